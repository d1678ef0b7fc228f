#!/usr/bin/env bash
# The Debian packages of a build (cmake/Packaging.cmake), made and checked:
#
#   scripts/package.sh [builddir]   default build/, built as scripts/test.sh
#                                   builds it (cpack packs it as it is)
#
# cpack writes builddir/packages/mt4bridge_<version>_<arch>.deb and
# mt4bridge-sim_<version>_<arch>.deb; lintian checks both (an error fails,
# warnings and infos are listed); systemd-analyze verifies the unit of the
# unpacked service package, where systemd-analyze is installed.
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath "${1:-$top/build}")"
out="$build/packages"

rm -f "$out"/*.deb
(cd "$build" && cpack --config CPackConfig.cmake)
debs=("$out"/mt4bridge_*.deb "$out"/mt4bridge-sim_*.deb)
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { echo "package.sh: cpack made no $deb" >&2; exit 1; }
done

echo "== lintian"
lintian --fail-on error --display-info --tag-display-limit 0 "${debs[@]}"

if command -v systemd-analyze >/dev/null; then
  echo "== systemd-analyze verify"
  root="$(mktemp -d)"
  trap 'rm -rf "$root"' EXIT
  dpkg-deb -x "${debs[0]}" "$root"
  # The unit as packaged, its program and manual page where they were
  # unpacked (verify wants them to exist).
  sed "s|^ExecStart=/|ExecStart=$root/|" "$root/lib/systemd/system/mt4bridge.service" \
    >"$root/mt4bridge.service"
  MANPATH="$root/usr/share/man" systemd-analyze verify "$root/mt4bridge.service"
fi
echo "package.sh: ${debs[*]}"

#!/usr/bin/env bash
# The Windows build of the service, cross-compiled here with Debian's
# mingw-w64, and its tests under Wine.
#
#   scripts/windows-build.sh [build]      dependencies (scripts/windows-deps.sh,
#                                         cached), then build-win/: mt4bridge.exe,
#                                         sim/mtmanapi.dll, unit_tests.exe, and
#                                         the zip of the service (cpack, as
#                                         cmake/Packaging.cmake lays it out):
#                                         packages/mt4bridge-<version>-win64.zip
#   scripts/windows-build.sh prefix       the Wine prefix of the tests,
#                                         build-win/wineprefix (made once)
#   scripts/windows-build.sh test DIR     the unit tests under Wine, results in
#                                         DIR/unit-wine.xml
#   scripts/windows-build.sh wine-missing prints why the Wine tests cannot run
#                                         here (nothing when they can)
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${MT4BRIDGE_WINDOWS_BUILD:-$top/build-win}"
wine64=/usr/lib/wine/wine64
export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all

wine_missing() {
  [ -x "$wine64" ] || echo "wine64 is not installed (Debian package wine64)"
}

build() {
  "$top/scripts/windows-deps.sh" "$out/deps"
  cmake -S "$top" -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMT4BRIDGE_WIN_DEPS="$out/deps" >/dev/null
  ninja -C "$out" -j "$(nproc)"
  rm -f "$out"/packages/*.zip
  (cd "$out" && cpack --config CPackConfig.cmake >/dev/null)
  echo "windows-build: $(ls "$out"/packages/*.zip)"
}

prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  mkdir -p "$out"
  "$wine64" wineboot --init >/dev/null 2>&1
  # Proton's TLS layer opens the current user's root store first; a fresh
  # prefix has no such key, and every TLS client then fails.
  "$wine64" reg add 'HKCU\Software\Microsoft\SystemCertificates\Root\Certificates' /f \
    >/dev/null 2>&1
  # A crash prints its backtrace instead of waiting on a dialog.
  "$wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1
}

case "${1:-build}" in
  build) build ;;
  prefix) prefix ;;
  test)
    prefix
    # Wine sees the Linux root as drive Z:.
    "$wine64" "$out/unit_tests.exe" --gtest_output="xml:Z:$(realpath "${2:?results folder}")/unit-wine.xml"
    ;;
  wine-missing) wine_missing ;;
  *) echo "usage: $0 [build|prefix|test DIR|wine-missing]" >&2; exit 2 ;;
esac

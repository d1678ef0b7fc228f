#!/usr/bin/env bash
# Installs everything the service, the simulator, the broker and the tests
# need, by package name, on a Debian 12 machine. Idempotent: packages that
# are already installed are left alone, so a second run takes a second.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build
  libjsoncpp-dev libsimdjson-dev libqpid-proton-cpp12-dev libqpid-proton11-dev
  libgtest-dev googletest libbenchmark-dev
  clang-14 libclang-rt-14-dev llvm-14
  openjdk-17-jdk-headless maven
  python3 python3-pytest python3-pytest-xdist python3-qpid-proton python3-jsonschema python3-stomp
  procps openssl libsystemd-dev prometheus-cpp-dev prometheus
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix patch
  lintian systemd
)
# Runs the Windows build's tests; where it cannot be installed they are
# skipped, with one line saying so.
OPTIONAL=(wine64 libgnutls30)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

optional=()
for p in "${OPTIONAL[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    optional+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ ${#optional[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  if [ ${#optional[@]} -gt 0 ]; then
    echo "install-deps: installing ${optional[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${optional[@]}" ||
      echo "install-deps: ${optional[*]} could not be installed; the Windows tests will be skipped"
  fi
fi

# The broker's jars come from Maven Central; fetched once and cached.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ -x "$here/broker.sh" ]; then
  "$here/broker.sh" fetch
fi
echo "install-deps: done"

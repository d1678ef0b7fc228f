#!/usr/bin/env bash
# Installs what is missing, builds the service twice (plain, and with
# AddressSanitizer + UBSan), runs the unit tests of both builds and the
# end-to-end tests (real broker, simulated trading server, the service
# binaries), and prints one closing line with the totals.
set -uo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
PY=/usr/bin/python3

"$top/scripts/install-deps.sh" || { echo "install failed"; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
build() {  # dir, extra cmake args...
  local dir="$1"; shift
  cmake -S "$top" -B "$top/$dir" -G Ninja "$@" >/dev/null &&
    ninja -C "$top/$dir" -j "$jobs"
}

build build -DCMAKE_BUILD_TYPE=RelWithDebInfo || { echo "build failed"; exit 1; }
build build-asan -DCMAKE_BUILD_TYPE=Debug -DMT4BRIDGE_SANITIZE=ON || { echo "sanitizer build failed"; exit 1; }

results="$top/build/test-results"
rm -rf "$results"; mkdir -p "$results"
status=0

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "== unit tests (plain build)"
ctest --test-dir "$top/build" --output-on-failure -j "$jobs" \
  --output-junit "$results/unit-plain.xml" || status=1
echo "== unit tests (AddressSanitizer + UBSan build)"
ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs" \
  --output-junit "$results/unit-asan.xml" || status=1

if ls "$top"/tests/e2e/test_*.py >/dev/null 2>&1; then
  echo "== end-to-end tests"
  MT4BRIDGE_BUILD="$top/build" MT4BRIDGE_ASAN_BUILD="$top/build-asan" \
    "$PY" -m pytest -q -p no:cacheprovider "$top/tests/e2e" \
    --junitxml="$results/e2e.xml"
  rc=$?
  # 5 = no test collected: not a failure of the suite.
  if [ $rc -ne 0 ] && [ $rc -ne 5 ]; then status=1; fi
fi

"$PY" "$top/scripts/summarize_results.py" "$results"/*.xml || status=1
exit $status

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

# The end-to-end suite runs twice: against the plain binaries, and against
# the AddressSanitizer + UBSan binaries (service, simulator, plugin,
# harnesses), so a memory fault on a real request path fails the run.
e2e() {  # name, build dir
  echo "== end-to-end tests ($1)"
  MT4BRIDGE_BUILD="$2" "$PY" -m pytest -q -p no:cacheprovider "$top/tests/e2e" \
    -o junit_suite_name="e2e-$1" --junitxml="$results/e2e-$1.xml"
  local rc=$?
  # 5 = no test collected: not a failure of the suite.
  if [ $rc -ne 0 ] && [ $rc -ne 5 ]; then status=1; fi
}
if ls "$top"/tests/e2e/test_*.py >/dev/null 2>&1; then
  e2e plain "$top/build"
  e2e asan "$top/build-asan"
fi

"$PY" "$top/scripts/summarize_results.py" "$results"/*.xml || status=1
exit $status

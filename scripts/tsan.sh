#!/usr/bin/env bash
# The ThreadSanitizer pass: builds the service, the simulated server with its
# plugin and the unit tests with -fsanitize=thread (build-tsan, only those
# targets), runs the unit tests and the end-to-end concurrency test against
# them, and writes their JUnit results to the folder given (default
# build/test-results): unit-tsan.xml and e2e-tsan.xml. Any report stops the
# reporting process (halt_on_error), so it fails its test. Exits non-zero on
# any failure.
#
#   scripts/tsan.sh [results-folder]         build, test, print the totals
#   scripts/tsan.sh build                    build only
#   scripts/tsan.sh test [results-folder]    test an existing build only
#                                            (scripts/test.sh adds the totals)
set -uo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
step=all
case "${1:-}" in build|test) step="$1"; shift ;; esac
results="$(realpath -m "${1:-$top/build/test-results}")"
cd "$top"
PY=/usr/bin/python3
dir="$top/build-tsan"
jobs=$(nproc 2>/dev/null || echo 2)

if [ "$step" != test ]; then
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMT4BRIDGE_TSAN=ON >/dev/null &&
    ninja -C "$dir" -j "$jobs" unit_tests sim_tests mt4bridge mt4sim mtmanapi ||
    { echo "ThreadSanitizer build failed"; exit 1; }
fi
[ "$step" != build ] || exit 0

mkdir -p "$results"
status=0
# Suppressions cover only libraries built without ThreadSanitizer.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$top/tests/tsan.supp"

echo "== unit tests (ThreadSanitizer build)"
# The reference check (schemas_current) runs no threads; the other builds run it.
ctest --test-dir "$dir" --output-on-failure -j "$jobs" -E '^schemas_current$' \
  --output-junit "$results/unit-tsan.xml" || status=1

echo "== end-to-end concurrency test (ThreadSanitizer build)"
MT4BRIDGE_BUILD="$dir" "$PY" -m pytest -q -p no:cacheprovider \
  "$top/tests/e2e/test_concurrency.py" \
  -o junit_suite_name=e2e-tsan --junitxml="$results/e2e-tsan.xml" || status=1

if [ "$step" = all ]; then
  "$PY" "$top/scripts/summarize_results.py" "$results/unit-tsan.xml" "$results/e2e-tsan.xml" ||
    status=1
fi
exit $status

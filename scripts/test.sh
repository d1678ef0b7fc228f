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

echo "== alerting rules (promtool)"
rules_failed=0
promtool test rules "$top/deploy/prometheus/alerts.test.yml" || { rules_failed=1; status=1; }
echo "<testsuite name=\"alert-rules\" tests=\"1\" failures=\"$rules_failed\"/>" >"$results/alert-rules.xml"

# The Debian packages of the plain build, which its end-to-end pass installs
# and runs (tests/e2e/test_packages.py).
echo "== Debian packages (cpack, lintian, systemd-analyze verify)"
packages_failed=0 failure=""
"$top/scripts/package.sh" "$top/build" ||
  { packages_failed=1; status=1; failure='<failure message="scripts/package.sh failed"/>'; }
echo "<testsuite name=\"packages\" tests=\"1\" failures=\"$packages_failed\"><testcase name=\"packages\">$failure</testcase></testsuite>" >"$results/packages.xml"

# The end-to-end suite runs twice: against the plain binaries, and against
# the AddressSanitizer + UBSan binaries (service, simulator, plugin,
# harnesses), so a memory fault on a real request path fails the run. The
# second pass leaves out the modules that drive only Python or only the
# simulator. Each pass runs in parallel processes (pytest-xdist), each with
# a broker of its own; the modules that depend on timing share one process
# (tests/e2e/conftest.py).
e2e() {  # name, build dir, pytest arguments...
  local name="$1" dir="$2"; shift 2
  echo "== end-to-end tests ($name)"
  MT4BRIDGE_BUILD="$dir" "$PY" -m pytest -q -p no:cacheprovider -n "$jobs" --dist loadgroup \
    "$@" -o junit_suite_name="e2e-$name" --junitxml="$results/e2e-$name.xml"
  local rc=$?
  # 5 = no test collected: not a failure of the suite.
  if [ $rc -ne 0 ] && [ $rc -ne 5 ]; then status=1; fi
}
# The fuzzing pass (clang build, each harness 30 s) and the ThreadSanitizer
# build run beside the end-to-end passes, which spend most of their time
# waiting on the service's pauses; niced, so the tests' processes come first.
beside() {  # log, command...: started in the background, its pid in $!
  local log="$1"; shift
  nice -n 10 "$@" >"$log" 2>&1 &
}
finish() {  # pid, log, what
  wait "$1" || { status=1; echo "$3 failed"; }
  cat "$2"
}

beside "$results/fuzz.log" "$top/scripts/fuzz.sh" --seconds 30 --junit "$results/fuzz.xml"
fuzz_pid=$!
# The Windows build (mingw-w64; its dependencies are built once and cached
# in build-win/deps) is made beside the plain pass too; its tests run under
# Wine at the end.
beside "$results/windows-build.log" "$top/scripts/windows-build.sh" build
windows_pid=$!
windows=(--ignore="$top/tests/e2e/test_windows.py")
e2e plain "$top/build" "$top/tests/e2e" "${windows[@]}"
finish $fuzz_pid "$results/fuzz.log" "fuzzing"

beside "$results/tsan-build.log" "$top/scripts/tsan.sh" build
tsan_pid=$!
e2e asan "$top/build-asan" "$top/tests/e2e" "${windows[@]}" \
  --ignore="$top/tests/e2e/test_request_tool.py" --ignore="$top/tests/e2e/test_sim_server.py" \
  --ignore="$top/tests/e2e/test_sim_plugin.py" --ignore="$top/tests/e2e/test_packages.py"
finish $tsan_pid "$results/tsan-build.log" "ThreadSanitizer build"
"$top/scripts/tsan.sh" test "$results" || status=1

echo "== Windows build (mingw-w64) and its tests under Wine"
if wait $windows_pid; then
  tail -n 3 "$results/windows-build.log"
  why="$("$top/scripts/windows-build.sh" wine-missing)"
  if [ -n "$why" ]; then
    echo "Windows tests skipped: $why"
  else
    "$top/scripts/windows-build.sh" test "$results" >"$results/unit-wine.log" 2>&1 ||
      { status=1; cat "$results/unit-wine.log"; }
    e2e windows "$top/build" "$top/tests/e2e/test_windows.py"
  fi
else
  status=1; cat "$results/windows-build.log"; echo "Windows build failed"
fi

"$PY" "$top/scripts/summarize_results.py" "$results"/*.xml || status=1
exit $status

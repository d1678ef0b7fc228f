#!/usr/bin/env bash
# Builds the libFuzzer harnesses (tests/fuzz) in build-fuzz with clang 14
# and runs each one, on a scratch copy of its seed corpus, either for a time
# or for a number of inputs. Prints one line per harness and exits non-zero
# when any harness crashed or a sanitizer or property check fired; the input
# that did it is kept and its path printed.
#
#   scripts/fuzz.sh [--seconds N | --runs N] [--junit FILE] [harness ...]
#
#   --seconds N   run each harness N seconds (default 30)
#   --runs N      run each harness on N inputs instead (e.g. 1000000)
#   --junit FILE  also write a JUnit XML file, one testcase per harness
#   harness       any of: request config snapshot journal frame (default all)
#
# Each run's logs, and any crashing input, stay in
# build-fuzz/fuzz-runs/<date-time>/<harness>/. To run one input again:
#   build-fuzz/tests/fuzz/fuzz_<harness> <input>
# (MT4BRIDGE_FUZZ_CONSOLE=1 shows the service's console lines too).
set -uo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
all=(request config snapshot journal frame)

seconds=30
runs=""
junit=""
harnesses=()
usage() { sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) [ $# -ge 2 ] || usage; seconds="$2"; runs=""; shift 2 ;;
    --runs) [ $# -ge 2 ] || usage; runs="$2"; shift 2 ;;
    --junit) [ $# -ge 2 ] || usage; junit="$2"; shift 2 ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) harnesses+=("$1"); shift ;;
  esac
done
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${all[@]}")
for h in "${harnesses[@]}"; do
  [ -d "$top/tests/fuzz/corpus/$h" ] || { echo "fuzz: unknown harness '$h' (${all[*]})"; exit 2; }
done
# A relative JUnit path is the caller's.
if [ -n "$junit" ] && [ "${junit#/}" = "$junit" ]; then junit="$PWD/$junit"; fi

build="$top/build-fuzz"
work="$build/fuzz-runs/$(date +%Y%m%d-%H%M%S)"
results="$work/results.tsv"  # harness, status, execs, exec/s, cov, ft, crashes, seconds, detail
mkdir -p "$work"
: >"$results"

write_junit() {
  [ -n "$junit" ] || return 0
  mkdir -p "$(dirname "$junit")"
  /usr/bin/python3 - "$junit" "$results" <<'PY'
import sys
import xml.etree.ElementTree as ET

out, table = sys.argv[1], sys.argv[2]
rows = [line.rstrip("\n").split("\t") for line in open(table) if line.strip()]
suite = ET.Element("testsuite", name="fuzz", tests=str(len(rows)),
                   failures=str(sum(r[1] != "ok" for r in rows)), errors="0", skipped="0",
                   time="%.1f" % sum(float(r[7]) for r in rows))
for name, status, execs, rate, cov, ft, crashes, secs, detail in rows:
    case = ET.SubElement(suite, "testcase", classname="fuzz", name=name, time=secs)
    summary = "execs=%s exec/s=%s cov=%s ft=%s crashes=%s" % (execs, rate, cov, ft, crashes)
    if status != "ok":
        failure = ET.SubElement(case, "failure", message="%s: %s" % (name, status))
        failure.text = detail.replace("\\n", "\n")
    ET.SubElement(case, "system-out").text = summary
ET.ElementTree(suite).write(out, encoding="utf-8", xml_declaration=True)
PY
}

fail_build() {
  echo "fuzz: $1"
  printf '%s\t%s\t0\t0\t0\t0\t0\t0\t%s\n' build "build failed" "$1" >>"$results"
  write_junit
  exit 1
}

command -v clang++-14 >/dev/null && command -v clang-14 >/dev/null ||
  fail_build "clang-14 not found (scripts/install-deps.sh installs clang-14 and libclang-rt-14-dev)"

jobs=$(nproc 2>/dev/null || echo 2)
echo "== fuzz: building $build"
CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$build" -G Ninja -DMT4BRIDGE_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/cmake.log" 2>&1 ||
  { tail -20 "$work/cmake.log"; fail_build "configure failed ($work/cmake.log)"; }
ninja -C "$build" -j "$jobs" fuzzers >"$work/build.log" 2>&1 ||
  { grep -E "error|FAILED" "$work/build.log" | head -20; fail_build "build failed ($work/build.log)"; }

# The harnesses' scratch folders (stores, logs), in memory when possible;
# removed at the end even when a harness crashed.
scratch="$(mktemp -d /dev/shm/mt4bridge-fuzz-run.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export MT4BRIDGE_FUZZ_SCRATCH="$scratch"
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# The dictionary of a harness (the two store harnesses share one).
dict_of() {
  case "$1" in
    snapshot|journal) echo "$top/tests/fuzz/dict/history.dict" ;;
    *) echo "$top/tests/fuzz/dict/$1.dict" ;;
  esac
}

status=0
for h in "${harnesses[@]}"; do
  dir="$work/$h"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp -R "$top/tests/fuzz/corpus/$h/." "$dir/corpus/"
  args=(-print_final_stats=1 -timeout=30 -rss_limit_mb=4096 "-artifact_prefix=$dir/artifacts/")
  dict="$(dict_of "$h")"
  [ -f "$dict" ] && args+=("-dict=$dict")
  if [ -n "$runs" ]; then args+=("-runs=$runs"); else args+=("-max_total_time=$seconds"); fi
  start=$(date +%s.%N)
  "$build/tests/fuzz/fuzz_$h" "${args[@]}" "$dir/corpus" >"$dir/log" 2>&1
  rc=$?
  secs=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')

  final_stat() { grep -o "stat::$1: *[0-9]*" "$dir/log" | tail -1 | awk '{print $2}'; }
  execs=$(final_stat number_of_executed_units); rate=$(final_stat average_exec_per_sec)
  cov=$(grep -o ' cov: [0-9]*' "$dir/log" | tail -1 | awk '{print $2}')
  ft=$(grep -o ' ft: [0-9]*' "$dir/log" | tail -1 | awk '{print $2}')
  crashes=$(find "$dir/artifacts" -type f | wc -l)
  reports=$(grep -E -m5 '==[0-9]+==ERROR|runtime error:|FUZZ PROPERTY FAILED|SUMMARY: [A-Za-z]*Sanitizer|deadly signal|ALARM: working on the last Unit|out-of-memory' "$dir/log")
  result=ok
  detail=""
  if [ $rc -ne 0 ] || [ "$crashes" -gt 0 ] || [ -n "$reports" ]; then
    result="crashed"
    [ "$crashes" -gt 0 ] || crashes=1
    status=1
  fi
  printf 'fuzz %-9s execs=%s exec/s=%s cov=%s ft=%s crashes=%s (%ss)\n' \
    "$h" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$crashes" "$secs"
  if [ "$result" != ok ]; then
    detail="exit status $rc; log $dir/log"
    while IFS= read -r input; do
      echo "  crashing input: $input"
      detail="$detail\\ninput: $input"
    done < <(find "$dir/artifacts" -type f)
    [ -n "$reports" ] && echo "$reports" | sed 's/^/  /'
    echo "  log: $dir/log"
    detail="$detail\\n$(echo "$reports" | tr '\t' ' ' | awk '{printf "%s\\n", $0}')"
  fi
  rm -rf "$dir/corpus"  # the scratch copy and what the run added to it
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$h" "$result" "${execs:-0}" "${rate:-0}" \
    "${cov:-0}" "${ft:-0}" "$crashes" "$secs" "$detail" >>"$results"
done

write_junit
[ $status -eq 0 ] && echo "fuzz: no crash in ${#harnesses[@]} harnesses" || echo "fuzz: CRASHES (see above)"
exit $status

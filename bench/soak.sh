#!/usr/bin/env bash
# Soak benchmark: a broker, the simulated server and the service (plain
# build) in a scratch folder, every request queue kept busy for the given
# minutes (default 10). Prints the service's RSS, open descriptors and
# threads every minute, the requests answered, and a verdict on growth.
# Not part of the test run. MT4BRIDGE_BUILD names the build folder; further
# arguments go to bench/soak.py (--drop-every SECONDS, --keep).
#
#   bench/soak.sh [minutes] [--drop-every SECONDS] [--keep]
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(realpath -m "${MT4BRIDGE_BUILD:-$top/build}")"
for f in mt4bridge sim/mt4sim sim/mtmanapi.so; do
  [ -e "$build/$f" ] || { echo "build first: ninja -C $build mt4bridge mt4sim mtmanapi" >&2; exit 1; }
done
minutes=10
if [[ "${1:-}" =~ ^[0-9]+(\.[0-9]+)?$ ]]; then minutes="$1"; shift; fi
MT4BRIDGE_BUILD="$build" exec /usr/bin/python3 "$top/bench/soak.py" "$minutes" "$@"

#!/usr/bin/env bash
# Starts a broker of its own on free ports, runs the messaging latency
# benchmark against it, stops the broker. Arguments go to the benchmark
# ([rounds] [requests-per-round]). MT4BRIDGE_BUILD names the build folder.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MT4BRIDGE_BUILD:-$top/build}"
bench="$build/bench/messaging_latency_bench"
[ -x "$bench" ] || { echo "build $bench first (ninja -C $build messaging_latency_bench)" >&2; exit 1; }

free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
data="$(mktemp -d /tmp/mt4bridge-bench-broker.XXXXXX)"
amqp="$(free_port)"
ow="$(free_port)"
cleanup() { "$top/scripts/broker.sh" kill "$data" || true; rm -rf "$data"; }
trap cleanup EXIT
"$top/scripts/broker.sh" start "$data" "$amqp" "$ow"
"$bench" "amqp://127.0.0.1:$amqp" "$@" >"$data/service-console.txt"

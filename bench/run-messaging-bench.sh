#!/usr/bin/env bash
# Starts a broker of its own on free ports, runs the messaging latency
# benchmark against it, stops the broker. Arguments go to the benchmark
# ([--metrics] [rounds] [requests-per-round]; --metrics: the service's rounds
# also with its metrics endpoint open). MT4BRIDGE_BUILD names the build
# folder.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MT4BRIDGE_BUILD:-$top/build}"
bench="$build/bench/messaging_latency_bench"
[ -x "$bench" ] || { echo "build $bench first (ninja -C $build messaging_latency_bench)" >&2; exit 1; }

data="$(mktemp -d /tmp/mt4bridge-bench-broker.XXXXXX)"
cleanup() { "$top/scripts/broker.sh" kill "$data" || true; rm -rf "$data"; }
trap cleanup EXIT
"$top/scripts/broker.sh" start "$data" 0 0  # the ports it bound: $data/ports
amqp="$(sed -n 's/^amqp=//p' "$data/ports")"
metrics=()
if [ "${1:-}" = --metrics ]; then metrics=(--metrics); shift; fi
"$bench" "${metrics[@]}" "amqp://127.0.0.1:$amqp" "$@" >"$data/service-console.txt"

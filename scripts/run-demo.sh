#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole system on this
# machine: a local ActiveMQ broker, the simulated trading server seeded with
# demo groups, symbols and accounts, and the service in the foreground.
# Everything lives under run/ (kept between runs: the simulator's state, the
# broker's store and the service's stores survive a restart).
#
#   scripts/run-demo.sh          then type 1 and a key to stop, or Ctrl-C
#
# Ports (override with env): AMQP 5672, OpenWire 61616, trading server 4443;
# the kept config.ini is set to them on every run.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
AMQP_PORT="${AMQP_PORT:-5672}"
OPENWIRE_PORT="${OPENWIRE_PORT:-61616}"
SIM_PORT="${SIM_PORT:-4443}"
SIM_ADMIN_PORT="${SIM_ADMIN_PORT:-4444}"

"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$top/build"

run="$top/run"
mkdir -p "$run/service" "$run/libs" "$run/log/mt4" "$run/broker" "$run/sim"
cp -f "$top/build/sim/mtmanapi.so" "$run/libs/mtmanapi.so"
[ -f "$run/sim/state.json" ] || cp "$top/sim/demo-state.json" "$run/sim/state.json"
# config.ini is written on the first run and kept with its edits; on every
# run its trading server and broker addresses are set to this run's ports.
# The demo serves the account reads and publishes the server's events on
# the topic serverEvents (added to a kept config.ini that has none).
if [ -f "$run/service/config.ini" ]; then
  /usr/bin/python3 - "$run/service/config.ini" "127.0.0.1:$SIM_PORT" \
    "amqp://127.0.0.1:$AMQP_PORT" "$top/tools" <<'EOF'
import json, sys
path, server, broker, tools = sys.argv[1:]
sys.path.insert(0, tools)
import make_config
with open(path) as f:
    try:
        cfg = json.load(f)
    except ValueError as e:
        sys.exit("%s is not plain JSON (%s): set server %s and brokerURI %s in it by hand"
                 % (path, e, server, broker))
cfg.update(server=server, brokerURI=broker)
for key in make_config.READ_KEYS:
    cfg.setdefault(key, key)
    cfg.setdefault(make_config.reply_key(key), make_config.reply_key(key))
cfg.setdefault("serverEvents", "topic://serverEvents")
make_config.write(path, cfg)
EOF
else
  /usr/bin/python3 "$top/tools/make_config.py" \
    "$run/service/config.ini" --server "127.0.0.1:$SIM_PORT" --login 1 \
    --password managerpass --broker "amqp://127.0.0.1:$AMQP_PORT" \
    --reads --set 'serverEvents="topic://serverEvents"'
fi

sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  "$top/scripts/broker.sh" stop "$run/broker" >/dev/null 2>&1 || true
}
trap cleanup EXIT

"$top/scripts/broker.sh" start "$run/broker" "$AMQP_PORT" "$OPENWIRE_PORT"
"$top/build/sim/mt4sim" --port "$SIM_PORT" --admin-port "$SIM_ADMIN_PORT" \
  --state "$run/sim/state.json" >"$run/sim/mt4sim.log" 2>&1 &
sim_pid=$!

cat <<EOT
== The broker listens on amqp://127.0.0.1:$AMQP_PORT, the trading server on 127.0.0.1:$SIM_PORT.
== Send a request from another terminal, for example:
   $top/tools/mt4bridge_request.py --broker amqp://127.0.0.1:$AMQP_PORT --queue userRecordCreate \\
     '{"serial":"demo-1","login":7001,"name":"Ann Lee","email":"ann@example.com","group":"demoforex","leverage":100,"masterPass":"Secret123","investorPass":"Invest123","leadSource":"web","valid":1}'
== Read an account, and follow the server's events:
   $top/tools/mt4bridge_request.py --broker amqp://127.0.0.1:$AMQP_PORT --queue userRecordGet '{"login":1001}'
   $top/tools/mt4bridge_request.py --broker amqp://127.0.0.1:$AMQP_PORT --queue topic://serverEvents listen
== Logs: $run/log/mt4   Stores: $run/service
EOT
cd "$run/service"
set +e
"$top/build/mt4bridge"
status=$?
exit $status

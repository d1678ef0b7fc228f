#!/usr/bin/env bash
# The test broker (ActiveMQ Classic 6, embedded; see broker/).
#   broker.sh fetch                         resolve the jars, compile the launcher (once)
#   broker.sh start <datadir> <amqp_port> <openwire_port> [user password] [key=value ...]
#                                           key=value options are passed to the
#                                           launcher (see EmbeddedBroker.java);
#                                           a *port=N option names one more
#                                           port that start waits for
#   broker.sh stop <datadir>                TERM (clean shutdown), KILL after a bound
#   broker.sh kill <datadir>                KILL at once (a crash; the store recovers)
# start returns once both ports accept connections (exit 0), or says why it
# could not and exits 1. The pid file and the log are kept in <datadir>.
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bdir="$top/broker"
lib="$bdir/lib"
classes="$bdir/target/classes"
main_class="mt4bridge.broker.EmbeddedBroker"
src="$bdir/src/main/java/mt4bridge/broker/EmbeddedBroker.java"
start_timeout=60
stop_timeout=20

die() { echo "broker.sh: $*" >&2; exit 1; }

fetched() {
  [ -f "$lib/.complete" ] && [ -f "$classes/mt4bridge/broker/EmbeddedBroker.class" ] &&
    [ "$classes/mt4bridge/broker/EmbeddedBroker.class" -nt "$src" ] &&
    [ "$lib/.complete" -nt "$bdir/pom.xml" ]
}

fetch() {
  if fetched; then return 0; fi
  command -v mvn >/dev/null || die "mvn not found (install maven)"
  command -v javac >/dev/null || die "javac not found (install openjdk-17-jdk-headless)"
  if [ ! -f "$lib/.complete" ] || [ "$bdir/pom.xml" -nt "$lib/.complete" ]; then
    rm -rf "$lib"
    mvn -q -B -f "$bdir/pom.xml" dependency:copy-dependencies \
      -DoutputDirectory="$lib" -DincludeScope=runtime || die "could not resolve the broker's jars"
    touch "$lib/.complete"
  fi
  mkdir -p "$classes"
  javac -nowarn -d "$classes" -cp "$lib/*" "$src" || die "could not compile the launcher"
}

port_open() {  # port
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

start() {
  local positional=() options=() ports=()
  local arg
  for arg in "$@"; do
    if [ ${#positional[@]} -ge 3 ] && [[ "$arg" == [A-Za-z]*=* ]]; then
      options+=("$arg")
      if [[ "${arg%%=*}" == *[Pp]ort ]]; then ports+=("${arg#*=}"); fi
    else
      positional+=("$arg")
    fi
  done
  set -- "${positional[@]}"
  [ $# -eq 3 ] || [ $# -eq 5 ] || die "usage: broker.sh start <datadir> <amqp_port> <openwire_port> [user password] [key=value ...]"
  local data="$1" amqp="$2" ow="$3"
  ports+=("$amqp" "$ow")
  fetch
  mkdir -p "$data" || die "cannot create $data"
  data="$(cd "$data" && pwd)"
  if [ -f "$data/broker.pid" ] && kill -0 "$(cat "$data/broker.pid")" 2>/dev/null; then
    die "a broker is already running for $data (pid $(cat "$data/broker.pid"))"
  fi
  local args=("$data" "$amqp" "$ow")
  if [ $# -eq 5 ]; then args+=("$4" "$5"); fi
  args+=("${options[@]}")
  nohup java -Xmx256m -Xss512k -XX:+UseSerialGC -XX:TieredStopAtLevel=1 \
    -Dorg.slf4j.simpleLogger.defaultLogLevel=warn \
    -cp "$classes:$lib/*" "$main_class" "${args[@]}" \
    >"$data/broker.log" 2>&1 </dev/null &
  local pid=$!
  echo "$pid" >"$data/broker.pid"
  local deadline=$((SECONDS + start_timeout))
  while [ $SECONDS -lt $deadline ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "broker.sh: the broker exited during start; its log:" >&2
      tail -n 30 "$data/broker.log" >&2
      rm -f "$data/broker.pid"
      exit 1
    fi
    local port all_open=1
    for port in "${ports[@]}"; do
      port_open "$port" || { all_open=0; break; }
    done
    if [ $all_open -eq 1 ]; then
      return 0
    fi
    sleep 0.2
  done
  echo "broker.sh: ports ${ports[*]} not open after ${start_timeout}s; stopping it; its log:" >&2
  tail -n 30 "$data/broker.log" >&2
  stop "$data"
  exit 1
}

stop() {
  [ $# -eq 1 ] || die "usage: broker.sh stop <datadir>"
  local data="$1"
  [ -f "$data/broker.pid" ] || return 0
  local pid
  pid="$(cat "$data/broker.pid")"
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    local deadline=$((SECONDS + stop_timeout))
    while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
      echo "broker.sh: broker $pid did not stop in ${stop_timeout}s; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
      while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    fi
  fi
  rm -f "$data/broker.pid"
}

crash() {
  [ $# -eq 1 ] || die "usage: broker.sh kill <datadir>"
  local data="$1"
  [ -f "$data/broker.pid" ] || return 0
  local pid
  pid="$(cat "$data/broker.pid")"
  kill -KILL "$pid" 2>/dev/null || true
  while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
  rm -f "$data/broker.pid"
}

cmd="${1:-}"
[ -n "$cmd" ] && shift
case "$cmd" in
  fetch) fetch ;;
  start) start "$@" ;;
  stop) stop "$@" ;;
  kill) crash "$@" ;;
  *) die "usage: broker.sh fetch | start <datadir> <amqp_port> <openwire_port> [user password] [key=value ...] | stop|kill <datadir>" ;;
esac

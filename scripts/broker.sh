#!/usr/bin/env bash
# The test broker (ActiveMQ Classic 6, embedded; see broker/).
#   broker.sh fetch                         resolve the jars, compile the launcher (once)
#   broker.sh start <datadir> <amqp_port> <openwire_port> [user password] [key=value ...]
#                                           key=value options are passed to the
#                                           launcher (see EmbeddedBroker.java);
#                                           a port of 0 is one the broker picks;
#                                           destinationPolicy= is deploy/activemq.xml
#                                           unless given (the production broker's
#                                           dead-letter queues)
#   broker.sh stop <datadir>                TERM (clean shutdown), KILL after a bound
#   broker.sh kill <datadir>                KILL at once (a crash; the store recovers)
# start returns once every connector accepts connections (exit 0), or says
# why it could not and exits 1. The ports the connectors bound are then in
# <datadir>/ports, one name=port line each (amqp, openwire, and amqps, stomp
# for the options amqpsPort, stompPort). A port in use is tried again for a
# few seconds (the system may hold it for a moment after a stop). The pid
# file and the log are kept in <datadir>.
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bdir="$top/broker"
lib="$bdir/lib"
classes="$bdir/target/classes"
main_class="mt4bridge.broker.EmbeddedBroker"
src="$bdir/src/main/java/mt4bridge/broker/EmbeddedBroker.java"
start_timeout=60
port_retry_timeout=10
port_taken=3  # the launcher's exit status for a port in use
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

start() {
  local positional=() options=()
  local arg
  for arg in "$@"; do
    if [ ${#positional[@]} -ge 3 ] && [[ "$arg" == [A-Za-z]*=* ]]; then
      options+=("$arg")
    else
      positional+=("$arg")
    fi
  done
  set -- "${positional[@]}"
  [ $# -eq 3 ] || [ $# -eq 5 ] || die "usage: broker.sh start <datadir> <amqp_port> <openwire_port> [user password] [key=value ...]"
  local data="$1" amqp="$2" ow="$3"
  if [[ " ${options[*]-} " != *" destinationPolicy="* ]]; then
    options+=("destinationPolicy=$top/deploy/activemq.xml")
  fi
  fetch
  mkdir -p "$data" || die "cannot create $data"
  data="$(cd "$data" && pwd)"
  if [ -f "$data/broker.pid" ] && kill -0 "$(cat "$data/broker.pid")" 2>/dev/null; then
    die "a broker is already running for $data (pid $(cat "$data/broker.pid"))"
  fi
  local args=("$data" "$amqp" "$ow")
  if [ $# -eq 5 ]; then args+=("$4" "$5"); fi
  args+=("${options[@]}")
  local deadline=$((SECONDS + start_timeout)) retry_until=$((SECONDS + port_retry_timeout))
  local pid status
  while :; do
    # The launcher writes the ports file once every connector listens.
    rm -f "$data/ports"
    nohup java -Xmx256m -Xss512k -XX:+UseSerialGC -XX:TieredStopAtLevel=1 \
      -Dorg.slf4j.simpleLogger.defaultLogLevel=warn \
      -cp "$classes:$lib/*" "$main_class" "${args[@]}" \
      >"$data/broker.log" 2>&1 </dev/null &
    pid=$!
    echo "$pid" >"$data/broker.pid"
    while kill -0 "$pid" 2>/dev/null && [ ! -f "$data/ports" ] && [ $SECONDS -lt $deadline ]; do
      sleep 0.1
    done
    if [ -f "$data/ports" ]; then
      return 0
    fi
    if kill -0 "$pid" 2>/dev/null; then
      echo "broker.sh: the broker did not start in ${start_timeout}s; stopping it; its log:" >&2
      tail -n 30 "$data/broker.log" >&2
      stop "$data"
      exit 1
    fi
    status=0
    wait "$pid" || status=$?
    rm -f "$data/broker.pid"
    if [ $status -ne $port_taken ] || [ $SECONDS -ge $retry_until ]; then
      echo "broker.sh: the broker exited during start; its log:" >&2
      tail -n 30 "$data/broker.log" >&2
      exit 1
    fi
    sleep 0.5
  done
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

#!/usr/bin/env bash
# The line page on one PC: a local mosquitto with a websockets listener that serves the
# built page (build/web), N simulated sensors (default 4) with a varno-gateway each
# (writes to RAM allowed), and the page's address. Ctrl-C stops everything it started.
#
# Usage: scripts/line-demo.sh [N] [--build DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
n=4
build=build
while (($#)); do
    case "$1" in
    --build) build=$2; shift 2 ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) [[ "$1" =~ ^[0-9]+$ ]] && (($1 >= 1)) || { echo "line-demo: not a number of sensors: $1" >&2; exit 2; }
       n=$1; shift ;;
    esac
done
for p in varno-gateway varno-sensor-sim; do
    [ -x "$build/$p" ] || { echo "line-demo: $build/$p is missing: build first (scripts/build.sh)" >&2; exit 1; }
done
[ -f "$build/web/index.html" ] || scripts/web-build.sh "$build/web"
mosq=$(command -v mosquitto || echo /usr/sbin/mosquitto)
[ -x "$mosq" ] || { echo "line-demo: mosquitto is missing (scripts/deps.sh installs it)" >&2; exit 1; }

dir=$(mktemp -d /tmp/varno-line-demo-XXXXXX)
pids=()
cleanup() {
    trap - EXIT INT TERM
    # Gateways first (each publishes offline), then the sensors, then the broker.
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$dir"
    echo
    echo "line-demo: stopped"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
    local p
    for _ in $(seq 50); do
        p=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
    done
    echo "line-demo: no free port on 127.0.0.1" >&2
    exit 1
}
port=$(free_port)
ws=${VARNO_WS_PORT:-9001}
if (exec 3<>"/dev/tcp/127.0.0.1/$ws") 2>/dev/null; then ws=$(free_port); fi
www=$(cd "$build/web" && pwd)
{
    [ "$(id -u)" -eq 0 ] && echo "user root"
    echo "allow_anonymous true"
    echo "listener $port 127.0.0.1"
    echo "listener $ws"
    echo "protocol websockets"
    echo "http_dir $www"
} >"$dir/mosquitto.conf"
"$mosq" -c "$dir/mosquitto.conf" >"$dir/mosquitto.log" 2>&1 &
broker_pid=$!
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$ws") 2>/dev/null && break
    sleep 0.1
done

for i in $(seq "$n"); do
    "$build/varno-sensor-sim" --link "$dir/sensor-$i" --seed "$i" >/dev/null 2>&1 &
    pids+=($!)
done
for i in $(seq "$n"); do
    for _ in $(seq 50); do [ -e "$dir/sensor-$i" ] && break; sleep 0.1; done
    "$build/varno-gateway" --broker "mqtt://127.0.0.1:$port" --port "$dir/sensor-$i" \
        --sensor "s$i" --allow-write ram --keepalive 5 >"$dir/gateway-$i.log" 2>&1 &
    pids=($! "${pids[@]}")
done
pids+=("$broker_pid")

host=$(hostname -f 2>/dev/null || hostname)
echo "line-demo: $n simulated sensors, each with its gateway, on mosquitto (MQTT on 127.0.0.1:$port)"
echo "line-demo: the line page: http://127.0.0.1:$ws/  (from another PC: http://$host:$ws/)"
echo "line-demo: Ctrl-C stops it all"
wait "$broker_pid"

#!/usr/bin/env bash
# A command flood against one gateway: a local mosquitto, one simulated sensor, one
# varno-gateway; N QoS 0 commands (cmd/check) published as fast as mosquitto_pub -l sends
# them. Reports the gateway's resident memory before, its peak (VmHWM) and after, the live
# records received during the flood and the seconds it lasted, whether the gateway still
# answers a command afterwards, and the replies it answered "busy".
#
# Usage: bench/gateway-flood.sh [--commands N] [--build DIR]   (default 10000, build/)
set -euo pipefail
cd "$(dirname "$0")/.."
n=10000
build=build
while (($#)); do
    case "$1" in
    --commands) n=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "bench/gateway-flood.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[[ "$n" =~ ^[0-9]+$ ]] || { echo "bench/gateway-flood.sh: not a whole number: $n" >&2; exit 2; }
. bench/local-broker.sh
bench_start flood
start_broker "max_queued_messages 0"
"$build/varno-sensor-sim" --link "$dir/sensor" >/dev/null &
pids+=($!)
sleep 1
"$build/varno-gateway" --port "$dir/sensor" --broker "mqtt://127.0.0.1:$port" --sensor s1 \
    >"$dir/gw.log" 2>&1 &
gw=$!
pids+=($gw)
mosquitto_sub -p "$port" -t 'varno/s1/live' -t 'varno/s1/reply' -v >"$dir/sub.txt" &
pids+=($!)
for _ in $(seq 100); do grep -q "^varno/s1/live" "$dir/sub.txt" 2>/dev/null && break; sleep 0.1; done
rss() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$gw/status"; }
before=$(rss VmRSS)
live0=$(grep -c "^varno/s1/live" "$dir/sub.txt")
t0=$(date +%s.%N)
seq "$n" | awk '{ printf "{\"id\":\"f%d\"}\n", $1 }' |
    mosquitto_pub -p "$port" -t varno/s1/cmd/check -q 0 -l
t1=$(date +%s.%N)
# The queue drains for a while after the last command left the publisher.
sleep 10
live1=$(grep -c "^varno/s1/live" "$dir/sub.txt")
peak=$(rss VmHWM)
after=$(rss VmRSS)
mosquitto_pub -p "$port" -t varno/s1/cmd/check -m '{"id":"after-flood"}' -q 1
ok=no
for _ in $(seq 150); do grep -q '"id":"after-flood"' "$dir/sub.txt" && { ok=yes; break; }; sleep 0.1; done
busy=$(grep -c '"busy' "$dir/sub.txt" || true)
secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", b - a + 10 }')
echo "commands $n"
echo "rss_before_kb $before"
echo "rss_peak_kb $peak"
echo "rss_after_kb $after"
echo "flood_seconds $secs"
echo "live_during $((live1 - live0))"
echo "live_per_s $(awk -v l=$((live1 - live0)) -v s="$secs" 'BEGIN { printf "%.1f", l / s }')"
echo "answers_after $ok"
echo "busy_replies $busy"

#!/usr/bin/env bash
# The gateway bench: one local mosquitto, N simulated sensors (varno-sensor-sim, 4800-baud
# pacing) on pseudo-terminals, one varno-gateway per sensor, and one subscriber
# (varno-gateway-sub) that stamps every live message with its time of receipt.
#
# Steady run (default): after DURATION seconds it reports the live records received and
# lost (gaps in seq per sensor), records out of order, per gateway CPU (utime+stime from
# /proc over the run) and peak resident memory (VmHWM), and the latency from a record's
# `time` to its receipt (p50, p99), with the mean cycle per sensor.
#
# Outage run (--outage S): after a 20 s warm-up the broker is stopped for S seconds and
# started again from its database; it reports the records lost and out of order across
# the outage, how many were delivered after the broker's return, and the time from its
# return to the last of them.
#
# Usage: bench/gateway.sh [--gateways N] [--duration S] [--outage S] [--build DIR]
#        (defaults: 16 gateways, 600 s, no outage, build/; with --outage the run goes on
#        30 s after the broker's return). Prints "key value" lines,
#        then a Markdown table. Needs a build with varno-gateway in it.
set -euo pipefail
cd "$(dirname "$0")/.."
n=16
duration=
outage=0
build=build
while (($#)); do
    case "$1" in
    --gateways) n=$2; shift 2 ;;
    --duration) duration=$2; shift 2 ;;
    --outage) outage=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "bench/gateway.sh: unknown argument $1 (--help lists them)" >&2; exit 2 ;;
    esac
done
# An outage run goes on 30 s after the broker's return unless told otherwise.
[ -n "$duration" ] || { ((outage > 0)) && duration=30 || duration=600; }
for v in "$n" "$duration" "$outage"; do
    [[ "$v" =~ ^[0-9]+$ ]] || { echo "bench/gateway.sh: not a whole number: $v" >&2; exit 2; }
done
((n >= 1)) || { echo "bench/gateway.sh: --gateways wants at least 1" >&2; exit 2; }

gw=$build/varno-gateway
sim=$build/varno-sensor-sim
sub=$build/bench/varno-gateway-sub
mosq=$(command -v mosquitto || echo /usr/sbin/mosquitto)
missing() { echo "bench/gateway.sh: $1" >&2; exit 1; }
[ -x "$gw" ] || missing "$gw is missing: build varno-gateway first (scripts/build.sh)"
[ -x "$sim" ] || missing "$sim is missing: build first (scripts/build.sh)"
[ -x "$sub" ] || missing "$sub is missing: build first (libmosquitto-dev: scripts/deps.sh)"
[ -x "$mosq" ] || missing "mosquitto is missing (scripts/deps.sh installs it)"
command -v mosquitto_pub >/dev/null || missing "mosquitto_pub is missing (mosquitto-clients)"

dir=$(mktemp -d /tmp/varno-gw-bench-XXXXXX)
gw_pids=()
sim_pids=()
sub_pid=
broker_pid=
cleanup() {
    for p in "${gw_pids[@]}" "${sim_pids[@]}" $sub_pid $broker_pid; do
        kill "$p" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT

# ---- the broker: 127.0.0.1 at a free port, persistence so that a stop keeps the
# subscriber's session and what is queued for it, no limit on that queue ----------------
port=
for _ in $(seq 50); do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
done
[ -n "$port" ] || missing "no free port on 127.0.0.1"
{
    [ "$(id -u)" -eq 0 ] && echo "user root"
    echo "listener $port 127.0.0.1"
    echo "allow_anonymous true"
    echo "persistence true"
    echo "persistence_location $dir/"
    echo "max_queued_messages 0"
    echo "set_tcp_nodelay true"
    echo "log_dest file $dir/mosquitto.log"
} >"$dir/mosquitto.conf"

start_broker() {
    "$mosq" -c "$dir/mosquitto.conf" >>"$dir/mosquitto.err" 2>&1 &
    broker_pid=$!
    for _ in $(seq 100); do
        mosquitto_pub -h 127.0.0.1 -p "$port" -t bench/ping -m up 2>/dev/null && return 0
        kill -0 "$broker_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$dir/mosquitto.err" "$dir/mosquitto.log" >&2 2>/dev/null || true
    missing "mosquitto did not start on port $port"
}
stop_broker() {
    kill -TERM "$broker_pid"
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=
}
now_us() { echo $(($(date +%s%N) / 1000)); }

start_broker
"$sub" "$port" >"$dir/sub.txt" 2>"$dir/sub.err" &
sub_pid=$!
sleep 1
kill -0 "$sub_pid" 2>/dev/null || { cat "$dir/sub.err" >&2; missing "the subscriber did not start"; }

for i in $(seq "$n"); do
    "$sim" --link "$dir/s$i" >/dev/null 2>&1 &
    sim_pids+=($!)
done
for i in $(seq "$n"); do
    for _ in $(seq 100); do [ -e "$dir/s$i" ] && break; sleep 0.05; done
    [ -e "$dir/s$i" ] || missing "simulated sensor $i did not start"
done
for i in $(seq "$n"); do
    "$gw" --port "$dir/s$i" --sensor "s$i" --broker "mqtt://127.0.0.1:$port" \
        >"$dir/gw$i.log" 2>&1 &
    gw_pids+=($!)
done

# Every gateway publishing live records: the run starts.
for _ in $(seq 300); do
    seen=$(awk '$1 == "L" { s[$3] = 1 } END { print length(s) }' "$dir/sub.txt")
    ((seen >= n)) && break
    sleep 0.1
done
if ((seen < n)); then
    for i in $(seq "$n"); do
        kill -0 "${gw_pids[i - 1]}" 2>/dev/null || { echo "gateway $i ended:" >&2; cat "$dir/gw$i.log" >&2; }
    done
    missing "only $seen of $n gateways published live records within 30 s"
fi

ticks() { # utime+stime of a process, in clock ticks
    local stat rest
    read -r stat <"/proc/$1/stat"
    rest=${stat##*) }
    set -- $rest
    echo $((${12} + ${13}))
}
hz=$(getconf CLK_TCK)
t0=$(now_us)
declare -a ticks0
for i in $(seq "$n"); do ticks0[i]=$(ticks "${gw_pids[i - 1]}"); done

down_us=0
back_us=0
if ((outage > 0)); then
    sleep 20
    down_us=$(now_us)
    stop_broker
    sleep "$outage"
    back_us=$(now_us)
    start_broker
    # The backlog has up to the gateways' reconnect pause (at most 10 s) plus its delivery.
    sleep "$((duration > 15 ? duration : 15))"
else
    sleep "$duration"
fi

t1=$(now_us)
cpu_max=0 cpu_sum=0 rss_max=0
for i in $(seq "$n"); do
    pid=${gw_pids[i - 1]}
    kill -0 "$pid" 2>/dev/null || { cat "$dir/gw$i.log" >&2; missing "gateway $i ended during the run"; }
    used=$(($(ticks "$pid") - ticks0[i]))
    cpu=$(awk -v u="$used" -v hz="$hz" -v s="$(((t1 - t0)))" 'BEGIN { printf "%.2f", u / hz / (s / 1e6) * 100 }')
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
    cpu_sum=$(awk -v a="$cpu_sum" -v b="$cpu" 'BEGIN { print a + b }')
    cpu_max=$(awk -v a="$cpu_max" -v b="$cpu" 'BEGIN { print (b > a ? b : a) }')
    ((hwm > rss_max)) && rss_max=$hwm
done

# Stop the gateways (each publishes offline and ends with 0), let the last messages arrive.
codes=()
for pid in "${gw_pids[@]}"; do kill -TERM "$pid"; done
for pid in "${gw_pids[@]}"; do
    rc=0
    wait "$pid" || rc=$?
    codes+=("$rc")
done
gw_pids=()
sleep 1
kill -TERM "$sub_pid"
wait "$sub_pid" || true
sub_pid=
bad_exits=$(printf '%s\n' "${codes[@]}" | awk '$1 != 0' | wc -l)

# ---- analysis of the subscriber's lines ------------------------------------------------
L=$dir/sub.txt
awk -v t0="$t0" -v down="$down_us" -v back="$back_us" '
$1 == "L" {
    s = $3; q = $4 + 0; at = $2; tm = $5
    n[s]++
    if ((s, q) in seen) { dup++; next }
    seen[s, q] = 1
    uniq[s]++
    if (!(s in lo) || q < lo[s]) lo[s] = q
    if (q > hi[s]) hi[s] = q
    if (q < hi_arrived[s]) ooo++
    if (q > hi_arrived[s]) hi_arrived[s] = q
    if (!(s in first_tm)) first_tm[s] = tm
    last_tm[s] = tm
    received++
    if (back > 0 && at > back && tm * 1000 < back) {
        backlog++
        if (at > backlog_last) backlog_last = at
    }
    if (at >= t0 && (down == 0 || at < down)) print (at / 1000.0 - tm) > "'"$dir/lat.txt"'"
}
END {
    lost = 0; missing_start = 0; cycles = 0; cyc = 0
    for (s in uniq) {
        lost += hi[s] - lo[s] + 1 - uniq[s]
        missing_start += lo[s] - 1
        if (uniq[s] > 1) { cyc += (last_tm[s] - first_tm[s]) / (uniq[s] - 1); cycles++ }
    }
    printf "gateway_live_received %d\n", received
    printf "gateway_sensors_seen %d\n", length(uniq)
    printf "gateway_lost %d\n", lost
    printf "gateway_missing_at_start %d\n", missing_start
    printf "gateway_out_of_order %d\n", ooo
    printf "gateway_duplicates %d\n", dup
    printf "gateway_cycle_ms %.1f\n", cycles ? cyc / cycles : 0
    if (back > 0) {
        printf "outage_backlog_records %d\n", backlog
        printf "outage_backlog_done_s %.2f\n", backlog ? (backlog_last - back) / 1e6 : 0
    }
}' "$L" >"$dir/result.txt"
sort -n "$dir/lat.txt" >"$dir/lat.sorted" 2>/dev/null || : >"$dir/lat.sorted"
pct() { awk -v p="$1" '{ v[NR] = $1 } END { if (NR) { i = int(NR * p / 100 + 0.999999); if (i < 1) i = 1; printf "%.1f", v[i] } else print "n/a" }' "$dir/lat.sorted"; }
{
    echo "gateway_n $n"
    echo "gateway_run_s $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')"
    cat "$dir/result.txt"
    echo "gateway_latency_p50_ms $(pct 50)"
    echo "gateway_latency_p99_ms $(pct 99)"
    echo "gateway_latency_max_ms $(pct 100)"
    echo "gateway_cpu_max_pct $cpu_max"
    echo "gateway_cpu_mean_pct $(awk -v s="$cpu_sum" -v n="$n" 'BEGIN { printf "%.2f", s / n }')"
    echo "gateway_rss_max_kib $rss_max"
    echo "gateway_bad_exits $bad_exits"
    ((outage > 0)) && echo "outage_s $outage"
} >"$dir/keys.txt"
cat "$dir/keys.txt"
v() { awk -v k="$1" '$1 == k { print $2 }' "$dir/keys.txt"; }
echo
if ((outage > 0)); then
    cat <<TABLE
| measure ($(v gateway_n) gateways, broker stopped for ${outage} s) | result | goal |
|---|---|---|
| live records received / lost (gaps in seq) / out of order | $(v gateway_live_received) / $(v gateway_lost) / $(v gateway_out_of_order) | 0 lost, in order |
| records delivered after the broker's return | $(v outage_backlog_records) | all of the outage's |
| broker back to the last of them | $(v outage_backlog_done_s) s | within 10 s |
TABLE
else
    cat <<TABLE
| measure ($(v gateway_n) gateways, $(v gateway_run_s) s) | result | goal |
|---|---|---|
| live records received / lost (gaps in seq) / out of order | $(v gateway_live_received) / $(v gateway_lost) / $(v gateway_out_of_order) | 0 lost |
| CPU per gateway, highest (mean) | $(v gateway_cpu_max_pct) % ($(v gateway_cpu_mean_pct) %) of a core | at most 1.5 % |
| resident memory per gateway, highest VmHWM | $(v gateway_rss_max_kib) KiB | at most 25 MB |
| record's time to receipt, p50 / p99 (max) | $(v gateway_latency_p50_ms) / $(v gateway_latency_p99_ms) ($(v gateway_latency_max_ms)) ms | p99 at most one cycle ($(v gateway_cycle_ms) ms) + 20 ms |
TABLE
fi
if (($(v gateway_lost) > 0 || $(v gateway_bad_exits) > 0)); then
    echo "bench/gateway.sh: records lost or a gateway did not end with 0" >&2
    exit 1
fi

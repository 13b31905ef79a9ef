#!/usr/bin/env bash
# The time varno-line apply takes (read, write with verify, all at once) on a line of N
# gateways on simulated sensors (4800-baud pacing), against a local mosquitto: reported for
# each N given, as the median of REPEAT runs, with the ratio to the first N.
#
# Usage: bench/line-apply.sh [--build DIR] [--repeat R] N...   (default: 1 16, 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
repeat=5
sizes=()
while (($#)); do
    case "$1" in
    --build) build=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    *) sizes+=("$1"); shift ;;
    esac
done
((${#sizes[@]})) || sizes=(1 16)
. bench/local-broker.sh
bench_start line-bench
first=
for n in "${sizes[@]}"; do
    start_broker
    for i in $(seq "$n"); do
        "$build/varno-sensor-sim" --link "$dir/n$n-s$i" >/dev/null &
        pids+=($!)
    done
    sleep 1
    for i in $(seq "$n"); do
        "$build/varno-gateway" --port "$dir/n$n-s$i" --broker "mqtt://127.0.0.1:$port" \
            --prefix "bench$n" --sensor "s$i" --allow-write ram >"$dir/gw$n-$i.log" 2>&1 &
        pids+=($!)
    done
    sleep 4
    line=("$build/varno-line" --broker "mqtt://127.0.0.1:$port" --prefix "bench$n")
    "${line[@]}" save "$dir/a$n.json" >/dev/null
    # The second recipe: every threshold one lower.
    python3 - "$dir/a$n.json" "$dir/b$n.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
r["recipe"] = "b"
for p in r["sensors"].values():
    p["threshold"] = (p["threshold"] + 255) % 256
json.dump(r, open(sys.argv[2], "w"))
PY
    times=()
    for k in $(seq "$repeat"); do
        f=$([ $((k % 2)) -eq 1 ] && echo "$dir/b$n.json" || echo "$dir/a$n.json")
        t0=$(date +%s.%N)
        "${line[@]}" apply "$f" --to ram >/dev/null
        t1=$(date +%s.%N)
        times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
    [ -n "$first" ] || first=$median
    echo "apply_sensors $n"
    echo "apply_runs_s ${times[*]}"
    echo "apply_median_s $median"
    echo "apply_ratio_to_first $(awk -v a="$median" -v b="$first" 'BEGIN { printf "%.2f", a / b }')"
done

#!/usr/bin/env bash
# Wall time of `varno-cli read ram`, start-up included, against the stand-alone simulated
# sensor on a pseudo-terminal: once answering at once (no pacing, no latency), once at
# 4800 baud. No display. Prints "key value" lines (milliseconds: median, max).
# Usage: bench/cli_read.sh [runs, default 30]   (after a build into build/)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-30}"
cli=build/varno-cli
simbin=build/varno-sensor-sim
dir=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$dir"
}
trap cleanup EXIT

measure() { # name, sim options...
    local name=$1
    shift
    "$simbin" --link "$dir/$name" "$@" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$dir/$name" ] && break; sleep 0.1; done
    local times=()
    for _ in $(seq "$runs"); do
        local t0 t1
        t0=$(date +%s%N)
        env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$cli" --port "$dir/$name" read ram >/dev/null
        t1=$(date +%s%N)
        times+=($(((t1 - t0) / 1000000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v k="$name" '
        { v[NR] = $1 } END { printf "cli_read_%s_median_ms %d\ncli_read_%s_max_ms %d\n", k, v[int((NR + 1) / 2)], k, v[NR] }'
}

measure at_once --no-pacing --latency 0
measure paced --latency 2

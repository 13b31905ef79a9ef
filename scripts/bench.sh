#!/usr/bin/env bash
# Measures, against the simulated sensor with 4800-baud pacing, in one run: the acquisition
# cycle against its floor, CPU during a 3.0 s unanswered wait, while the port is lost and
# during acquisition with the strip chart shown, time from start to the panel shown, and resident memory.
# Prints a Markdown table. Usage: scripts/bench.sh [acquisition seconds, default 60]
# When varno-gateway is built, the gateway bench follows (bench/gateway.sh: 16 gateways for
# GATEWAY_SECS seconds, default 600, then a 60 s broker outage); GATEWAY_SECS=0 leaves it out.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
scripts/build.sh >/dev/null
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
b=build/bench/varno-bench
out=$(mktemp)
"$b" wait 2>/dev/null >>"$out"
"$b" lost 5 2>/dev/null >>"$out"
for i in 1 2 3 4 5; do "$b" startup 2>/dev/null; done | sort -k2 -n | sed -n 3p >>"$out"
"$b" acquire "$secs" 1 2>/dev/null >>"$out"
"$b" record 40 2>/dev/null >>"$out"
v() { awk -v k="$1" '$1==k {print $2}' "$out"; }
cat <<TABLE
| measure | result | goal |
|---|---|---|
| acquisition cycle (NORM strip chart, ${secs} s) | $(v acquire_cycle_ms) ms | floor $(v acquire_floor_ms) ms |
| time the program adds per cycle | $(v acquire_added_ms) ms | under 2 ms |
| record rate, share of the floor's rate | $(v acquire_rate_pct_of_floor) % | at least 98 % |
| CPU while acquiring, strip chart shown | $(v acquire_cpu_share_pct) % of a core | under 10 % |
| CPU during a 3.0 s unanswered wait | $(v wait_cpu_share_pct) % of a core | under 5 % |
| CPU while the port is lost (5 s idle, watching for it) | $(v lost_cpu_share_pct) % of a core | under 5 % |
| start to panel shown, sensor answering (median of 5) | $(v startup_to_panel_ms) ms | |
| time recording adds per cycle (20 s without, 20 s with, alternating) | $(v record_cycle_added_ms) ms (the row alone $(v record_hooks_ms_per_record) ms) | at most 0.2 ms |
| resident memory, after 10 % and at the end of the run | $(v acquire_rss_first_kib) KiB, $(v acquire_rss_last_kib) KiB | flat |
TABLE
rm -f "$out"

gw_secs="${GATEWAY_SECS:-600}"
if [ -x build/varno-gateway ] && [ "$gw_secs" != 0 ]; then
  echo
  bench/gateway.sh --gateways 16 --duration "$gw_secs" | sed -n '/^|/,$p' || true
  echo
  bench/gateway.sh --gateways 16 --outage 60 | sed -n '/^|/,$p' || true
fi

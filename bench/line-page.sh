#!/usr/bin/env bash
# The line page's bench (bench/web/line_page_bench.mjs): 500 sensors' retained state, 64
# of them sending live records at 9 a second, the page in headless Chromium on a wall
# screen's window. Prints "key value" lines, then a Markdown table.
#
# Usage: bench/line-page.sh [--minutes M] [--sensors N] [--live K] [--build DIR]
#        (defaults: 10 minutes, 500 sensors, 64 live, build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
pass=()
while (($#)); do
    case "$1" in
    --build) build=$2; shift 2 ;;
    --minutes | --sensors | --live) pass+=("$1" "$2"); shift 2 ;;
    -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
    *) echo "bench/line-page.sh: unknown argument $1 (--help lists them)" >&2; exit 2 ;;
    esac
done
[ -x /usr/bin/chromium ] || { echo "bench/line-page.sh: chromium is missing (scripts/deps.sh)" >&2; exit 1; }
[ -f "$build/web/index.html" ] || scripts/web-build.sh "$build/web"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
node bench/web/line_page_bench.mjs "$build" "${pass[@]}" | tee "$out"
v() { awk -v k="$1" '$1==k {print $2}' "$out"; }
cat <<TABLE

| measure | result | goal |
|---|---|---|
| CPU of Chromium's processes (all $(v chromium_processes)), minute 1 to $(v minutes); $(v tiles_followed_live) tiles followed, $(v records_per_s_on_screen) live records/s | $(v chromium_cpu_pct_of_core) % of a core | at most 25 % |
| page connected to every tile on screen ($(v tiles_on_screen)) shown with its state | $(v connect_to_tiles_ms) ms | within 1 s |
| page connected to their live NORM shown | $(v connect_to_norm_ms) ms | |
| JS heap after a garbage collection, minute 1 and minute $(v minutes) | $(v heap_min1_kib) KiB, $(v heap_end_kib) KiB | flat |
TABLE

#!/usr/bin/env bash
# Soak: acquisition against the simulated sensor with random faults and nested requests.
# Usage: scripts/soak.sh [minutes, default 10]. Exit status 0 when every check held.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
exec build/bench/varno-soak "${1:-10}" 2>/dev/null

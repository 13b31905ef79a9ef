#!/usr/bin/env bash
# Builds and starts the operator program. Without a port named (--port, or --simulate
# itself) it talks to the built-in simulated sensor; arguments go to the program (e.g.
# --port 1=/dev/ttyUSB0, or --screenshot F, which keeps the simulated sensor).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
named=0
for a in "$@"; do
  case "$a" in --port|--port=*|--simulate|--help|--version) named=1 ;; esac
done
if [ "$named" -eq 0 ]; then set -- --simulate "$@"; fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting under a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a build/varno "$@"
fi
exec build/varno "$@"

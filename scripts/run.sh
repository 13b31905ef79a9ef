#!/usr/bin/env bash
# Builds and starts the operator program. Without arguments it talks to the built-in
# simulated sensor; any arguments go to the program instead (e.g. --port 1=/dev/ttyUSB0).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
if [ $# -eq 0 ]; then set -- --simulate; fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting under a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a build/varno "$@"
fi
exec build/varno "$@"

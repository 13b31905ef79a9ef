#!/usr/bin/env bash
# Takes docs/panel.png from the real program, talking to the simulated sensor.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
QT_QPA_PLATFORM=offscreen build/varno --simulate --screenshot docs/panel.png

#!/usr/bin/env bash
# Takes docs/panel.png from the real program, talking to the simulated sensor.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
QT_QPA_PLATFORM=offscreen build/varno --simulate --screenshot docs/panel.png
# The panel at work: NORM strip chart, jump buffer, adjustment markers.
QT_QPA_PLATFORM=offscreen build/bench/varno-bench pictures docs

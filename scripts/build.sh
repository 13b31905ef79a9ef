#!/usr/bin/env bash
# Configures and builds into build/ (two jobs: one build at a time on a small machine),
# then the line page into build/web/.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j 2
"$(dirname "$0")/web-build.sh" build/web >/dev/null

#!/usr/bin/env bash
# Builds with the address and undefined-behaviour sanitizers into build-asan/ and runs
# every test there, headless. Any sanitizer report fails the test it happens in.
#
#   scripts/test-sanitize.sh [CTEST ARGUMENTS...]     e.g. -R Link
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/deps.sh"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNO_SANITIZE=ON >/dev/null
# One job: a sanitized build is heavy, and other builds may be running.
cmake --build build-asan -j "${JOBS:-1}"
"$(dirname "$0")/web-build.sh" build-asan/web >/dev/null # the page the browser test serves
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
# Qt keeps caches and plug-ins for the life of the process; leak reports there are noise.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir build-asan --output-on-failure -j "${JOBS:-1}" --timeout 600 "$@"

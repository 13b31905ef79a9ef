#!/usr/bin/env bash
# Compiles the Qt-free code (the application modules, the parameter file text and the
# sensor model) with the MinGW-w64 cross compiler, so that a POSIX-only call slipping into
# them fails here rather than on the first Windows build. Needs g++-mingw-w64-x86-64.
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=""
for c in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-win32; do
  if command -v "$c" >/dev/null; then cxx=$c; break; fi
done
[ -n "$cxx" ] || { echo "check-mingw: no x86_64-w64-mingw32-g++ (apt-get install g++-mingw-w64-x86-64-posix)" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
files=(src/*.cpp src/recording/*.cpp src/cli/*.cpp src/sensor/params.cpp src/sensor/reading.cpp src/sensor/port_arg.cpp src/runtime/bytelist.cpp src/text/*.cpp sim/sensor_model.cpp sim/sensor_signal.cpp
       sim/sim_options.cpp)
failed=0
for f in "${files[@]}"; do
  if ! "$cxx" -std=c++20 -Wall -Wextra -Isrc -Isim -c "$f" -o "$out/$(basename "$f").o"; then
    echo "check-mingw: $f does not compile for Windows" >&2
    failed=1
  fi
done
((failed == 0)) || exit 1
echo "check-mingw: ${#files[@]} files compile with $cxx"

#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, address and undefined-behaviour sanitizers)
# into build-fuzz/ and runs each for a number of executions.
#
#   scripts/fuzz.sh [-runs=N] [--merge] [TARGET...]
#
#   -runs=N   executions per target (default 1000000)
#   --merge   afterwards, minimise the working corpus into fuzz/corpus/TARGET/ (-merge=1,
#             edges only, which keeps it to a few dozen files)
#   TARGET    param_file, link (default: both)
#
# The working corpus grows in build-fuzz/corpus/TARGET/ (seeded from fuzz/corpus/TARGET/);
# a crash is written to build-fuzz/artifacts/TARGET/ and can be replayed with
#   build-fuzz/fuzz/fuzz_TARGET FILE
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=1000000
merge=0
targets=()
for a in "$@"; do
  case "$a" in
    -runs=*) runs=${a#-runs=} ;;
    --merge) merge=1 ;;
    param_file|link) targets+=("$a") ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "unknown argument: $a" >&2; exit 2 ;;
  esac
done
((${#targets[@]})) || targets=(param_file link)

"$root/scripts/deps.sh"
need=()
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  need+=(libclang-rt-14-dev)
if ((${#need[@]})); then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${need[@]}"
fi

# One job: a small machine, and other builds may be running.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARNO_FUZZ=ON -DVARNO_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j1 --target $(printf 'fuzz_%s ' "${targets[@]}")

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
chmod 700 "$XDG_RUNTIME_DIR"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
summary=()
for t in "${targets[@]}"; do
  bin="$root/build-fuzz/fuzz/fuzz_$t"
  work="$root/build-fuzz/corpus/$t"
  art="$root/build-fuzz/artifacts/$t"
  log="$root/build-fuzz/fuzz_$t.log"
  mkdir -p "$work" "$art"
  opts=(-runs="$runs" -workers=1 -artifact_prefix="$art/" -print_final_stats=1)
  asan=""
  if [ "$t" = link ]; then
    # Qt's chart internals show up as indirect leaks that are not the program's.
    asan="detect_leaks=0"
    opts+=(-timeout=60 -max_len=512 -rss_limit_mb=4096)
  else
    opts+=(-timeout=10 -max_len=4096)
  fi
  echo "== fuzz_$t: $runs runs (log: $log)"
  before=$(ls "$art" | wc -l)
  set +e
  (cd "$root/build-fuzz/fuzz" &&
    ASAN_OPTIONS="$asan" "$bin" "${opts[@]}" "$work" "$root/fuzz/corpus/$t") >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -1)
  [ -n "$execs" ] || execs=$(grep -Eo 'Done [0-9]+ runs' "$log" | grep -Eo '[0-9]+' | tail -1)
  [ -n "$execs" ] || execs=$(grep -Eo '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  crashes=$(( $(ls "$art" | wc -l) - before ))
  summary+=("fuzz_$t: ${execs:-0} executions, $crashes crash(es), exit $rc")
  if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
    status=1
    grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -20 || true
  fi
  if [ "$merge" -eq 1 ]; then
    mkdir -p "$root/build-fuzz/merged/$t"
    rm -f "$root/build-fuzz/merged/$t"/*
    (cd "$root/build-fuzz/fuzz" &&
      ASAN_OPTIONS="$asan" "$bin" -merge=1 -use_counters=0 "$root/build-fuzz/merged/$t" "$root/fuzz/corpus/$t" \
        "$work") >"$log.merge" 2>&1
    if [ -n "$(ls "$root/build-fuzz/merged/$t")" ]; then
      rm -f "$root/fuzz/corpus/$t"/*
      cp "$root/build-fuzz/merged/$t"/* "$root/fuzz/corpus/$t"/
      echo "   fuzz/corpus/$t: $(ls "$root/fuzz/corpus/$t" | wc -l) files after merge"
    else
      echo "   merge failed (see $log.merge); fuzz/corpus/$t left as it was"
      status=1
    fi
  fi
done

echo
printf '%s\n' "${summary[@]}"
exit $status

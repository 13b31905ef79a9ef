# Sourced by the benches that need a broker of their own: a scratch folder, the processes
# started (killed and reaped at exit), and a local mosquitto on a free port.
#   bench_start NAME            -> $dir (a new folder), the cleanup trap set
#   start_broker [EXTRA LINE]   -> $port, a mosquitto on 127.0.0.1:$port (in $pids)
pids=()
bench_cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$dir"
}
bench_start() {
    dir=$(mktemp -d "/tmp/varno-$1-XXXXXX")
    trap bench_cleanup EXIT
}
start_broker() {
    local mosq p
    mosq=$(command -v mosquitto || echo /usr/sbin/mosquitto)
    [ -x "$mosq" ] || { echo "mosquitto is missing (scripts/deps.sh installs it)" >&2; exit 1; }
    port=
    for _ in $(seq 50); do
        p=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
    done
    [ -n "$port" ] || { echo "no free port on 127.0.0.1" >&2; exit 1; }
    {
        [ "$(id -u)" -eq 0 ] && echo "user root"
        echo "listener $port 127.0.0.1"
        echo "allow_anonymous true"
        [ $# -eq 0 ] || echo "$1"
    } >"$dir/mosquitto-$port.conf"
    "$mosq" -c "$dir/mosquitto-$port.conf" >"$dir/mosquitto-$port.log" 2>&1 &
    pids+=($!)
    sleep 0.5
}

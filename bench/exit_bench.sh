#!/usr/bin/env bash
# The time from Exit to the process gone, with every surface on: the journal, the dashboard with
# a live page open, MQTT on a mosquitto of loopback, desktop notifications (dunst on a session bus
# of its own), and polling with currents against the simulator. Exit is pressed as an operator
# would (Alt+X); the clock stops when the process has been reaped. Prints each run and the median
# and worst. STUCK_BROKER=1 stops the broker (SIGSTOP) just before Exit: the longest wait.
#
#   bash bench/exit_bench.sh [RUNS]       (default 9)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
runs=${1:-9}
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    "$here/tools/install-packages.sh" xvfb xdotool x11-utils dbus-daemon dunst mosquitto \
        mosquitto-clients
    [ -x "$BUILD_DIR/bin/wattmeter" ] || TARGETS="wattmeter wattmeter-sim" "$here/tools/setup.sh"
    exec dbus-run-session -- bash "$0" "$@"
fi
. "$here/tools/lib.sh"
wattmeter_work
wattmeter_settings
start_display
dunst -config "$here/tests/support/dunstrc" >/dev/null 2>&1 &
pids+=($!)
start_simulator "$work/sim.log" --fast </dev/null
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$work/broker.conf"
mosquitto -c "$work/broker.conf" 2>"$work/broker.log" &
pids+=($!)
broker=$!
wait_for mosquitto_sub -p "$port" -t probe -C 1 -W 1 -E 2>/dev/null

# A page's live connection, as a browser opens it, read until the program closes it.
live_page() { # host:port/
    python3 - "${1%/}" <<'PY'
import socket, sys
host, port = sys.argv[1].split(":")
s = socket.create_connection((host, int(port)))
s.sendall(b"GET /live HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"
          % sys.argv[1].encode())
while s.recv(65536):
    pass
PY
}

for ((run = 1; run <= runs; run++)); do
    : >"$work/app.log"
    "$BUILD_DIR/bin/wattmeter" --journal "$work/journal.csv" --serve 127.0.0.1:0 --notify \
        --mqtt "mqtt://127.0.0.1:$port" --mqtt-node bench 2>"$work/app.log" &
    app=$!
    wait_for grep -qs "MQTT broker .*: connected" "$work/app.log"
    url=$(grep -o 'http://127.0.0.1:[0-9]*/' "$work/app.log" | head -n 1)
    live_page "${url#http://}" & # a live page that stays open
    page=$!
    window=$(xdotool search --sync --pid "$app" --onlyvisible --name . | head -n 1)
    polling_from_menus "$window"
    sleep 3 # polls, readings and notifications under way
    [ -z "${STUCK_BROKER:-}" ] || kill -STOP "$broker"
    start=$(date +%s.%N)
    xdotool key --window "$window" alt+x
    wait "$app" || true
    end=$(date +%s.%N)
    [ -z "${STUCK_BROKER:-}" ] || kill -CONT "$broker"
    kill "$page" 2>/dev/null || true
    awk -v s="$start" -v e="$end" 'BEGIN {printf "%.3f\n", e - s}' | tee -a "$work/times"
done
sort -n "$work/times" | awk '{a[NR] = $1} END {
    printf "exit: median %.3f s, worst %.3f s over %d runs\n", a[int((NR + 1) / 2)], a[NR], NR
}'

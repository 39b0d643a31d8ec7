#!/usr/bin/env bash
# The time from a reading reaching the window to a subscriber of the broker having it: the
# program polls the simulator at full speed with currents on and publishes on a mosquitto on
# loopback; mosquitto_sub stamps each state as it arrives, and the state says when its reading
# was scanned. Prints the median, the 99th percentile and the worst.
#
#   bash bench/mqtt_bench.sh [SECONDS]       (default 120)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
seconds=${1:-120}
"$here/tools/install-packages.sh" mosquitto mosquitto-clients
[ -x "$BUILD_DIR/bin/wattmeter" ] || "$here/tools/setup.sh"
. "$here/tools/lib.sh"
wattmeter_work
wattmeter_settings
start_simulator "$work/sim.log" --fast </dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >"$work/broker.conf"
mosquitto -c "$work/broker.conf" 2>"$work/broker.log" &
pids+=($!)
sub() { mosquitto_sub -p "$port" "$@"; }
wait_for sub -t probe -C 1 -W 1 -E 2>/dev/null

QT_QPA_PLATFORM=offscreen "$BUILD_DIR/bin/wattmeter" --mqtt "mqtt://127.0.0.1:$port" \
    --mqtt-node bench --mqtt-control 2>"$work/app.log" &
pids+=($!)
wait_for grep -qs connected "$work/app.log"
stdbuf -oL mosquitto_sub -p "$port" -t wattmeter/bench/state -F '%U %p' >"$work/states" &
pids+=($!)
sleep 1
for command in 'POLL ON' 'CURRENTS ON'; do
    mosquitto_pub -p "$port" -t wattmeter/bench/command -m "$command"
done
sleep "$seconds"

# Each state once per reading: the first arrival of each scan time.
grep -o '^[0-9.]* .*"time":"[^"]*"' "$work/states" |
    sed 's/^\([0-9.]*\) .*"time":"\([^"]*\)"/\1 \2/' |
    while read -r received scanned; do
        printf '%s %s\n' "$scanned" "$(awk -v r="$received" -v s="$(date -d "$scanned" +%s.%N)" \
            'BEGIN {printf "%.3f", (r - s) * 1000}')"
    done | sort -u -k1,1 | awk '{print $2}' | sort -n >"$work/ms"
awk '{a[NR] = $1} END {
    if (NR == 0) { print "no readings reached the subscriber"; exit 1 }
    printf "readings %d\nmedian %.1f ms\n99th percentile %.1f ms\nworst %.1f ms\n",
           NR, a[int((NR + 1) / 2)], a[int(NR * 0.99 + 0.999)], a[NR]
}' "$work/ms"

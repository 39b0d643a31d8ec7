#!/usr/bin/env bash
# Measures the program side by side with the serial monitors Linux users already run (CuteCom,
# GtkTerm, PuTTY) and a bare Qt 6 window, each on a pseudo-terminal as its port, under Xvfb.
# Prints each figure's median with its min-max over the runs, then the goals as ratios.
#
#   bash bench/compare_peers.sh
#
# Settings (environment): STARTS=7 start-ups per program, ROUNDS=3 full runs per program (idle,
# flood, paced), IDLE_S=20, FLOOD_MB=4, PACED_S=20, PEERS="cutecom gtkterm putty",
# BUILD_DIR=build (built with tools/setup.sh first), RESULTS=<file> to keep the raw runs
# (one JSON line each). Runs alternate between the programs, so a busy spell of the machine
# is spread over all of them. Takes about 15 minutes with the defaults.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
STARTS=${STARTS:-7}
ROUNDS=${ROUNDS:-3}
IDLE_S=${IDLE_S:-20}
FLOOD_MB=${FLOOD_MB:-4}
PACED_S=${PACED_S:-20}
PEERS=${PEERS:-cutecom gtkterm putty}

# What the measurement needs beyond the build: the X server and its tools, the peers, and a
# compiler for the two small helpers.
"$here/tools/install-packages.sh" xvfb xdotool x11-utils imagemagick python3-xlib pkg-config gcc \
    cutecom gtkterm putty
[ -x "$BUILD_DIR/bin/wattmeter" ] || "$here/tools/setup.sh"

. "$here/tools/lib.sh"
wattmeter_work

tools=$work/tools
mkdir -p "$tools" "$work/home"
ln -s "$BUILD_DIR/bin/wattmeter" "$tools/wattmeter"
cc -shared -fPIC -O2 -o "$tools/ptyshim.so" "$here/bench/ptyshim.c" -ldl
# shellcheck disable=SC2046
g++ -O2 -fPIC -std=c++17 -o "$tools/bare_qt_window" "$here/bench/bare_qt_window.cpp" \
    $(pkg-config --cflags --libs Qt6Widgets)

start_display
unset XDG_CONFIG_HOME

results=${RESULTS:-$work/results.jsonl}
: >"$results"
probe=(/usr/bin/python3 "$here/bench/peer_probe.py" run --tools "$tools" --work "$work/home"
       --idle-s "$IDLE_S" --flood-mb "$FLOOD_MB" --paced-s "$PACED_S")

# Each round takes the programs in a different order.
rotate() { # round, programs...
    local round=$1
    shift
    local programs=("$@") n=$#
    for ((i = 0; i < n; i++)); do
        echo "${programs[$(((i + round) % n))]}"
    done
}

programs=(wattmeter bare-qt $PEERS)
echo "Warming up (first starts, the peers' first-run dialogs) ..."
for p in "${programs[@]}"; do
    "${probe[@]}" "$p" --start-only >/dev/null
done

echo "Start-up: $STARTS rounds ..."
for ((round = 0; round < STARTS; round++)); do
    for p in $(rotate "$round" "${programs[@]}"); do
        "${probe[@]}" "$p" --start-only | tee -a "$results" | cut -c1-160
    done
done

echo "Idle, flood and paced line: $ROUNDS rounds ..."
for ((round = 0; round < ROUNDS; round++)); do
    for p in $(rotate "$round" wattmeter $PEERS raw-reader); do
        "${probe[@]}" "$p" | tee -a "$results" | cut -c1-160
    done
done

echo
/usr/bin/python3 "$here/bench/peer_probe.py" summary "$results"

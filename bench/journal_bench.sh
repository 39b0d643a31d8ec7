#!/usr/bin/env bash
# What the journal holds in an hour of polling with currents: wattmeterd polls the simulator at
# the line's own 300 baud for MINUTES, and the lines of each kind are counted and scaled to an
# hour. BUILD_DIR picks the build to measure, so that two builds can be compared.
#
#   bash bench/journal_bench.sh [MINUTES]       (default 5)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
minutes=${1:-5}
[ -x "$BUILD_DIR/bin/wattmeterd" ] || TARGETS="wattmeterd wattmeter-sim" "$here/tools/setup.sh"
. "$here/tools/lib.sh"
wattmeter_work
wattmeter_settings
start_simulator "$work/sim.log" </dev/null
"$BUILD_DIR/bin/wattmeterd" --device "$XDG_CONFIG_HOME/Vorlan Wattmeter/ports/com1" --poll \
    --poll-currents --journal "$work/journal.csv" 2>"$work/service.log" &
pids+=($!)
sleep $((minutes * 60))
cut -d, -f2-3 "$work/journal.csv" | sed 's/^\(reading\|alarm\|band\|live\|port\),.*/\1/' |
    sort | uniq -c | sort -rn |
    awk -v m="$minutes" '{n = $1; $1 = ""; t += n; printf "%8d %s\n", n * 60 / m, $0}
                         END {printf "%8d lines an hour in all\n", t * 60 / m}'

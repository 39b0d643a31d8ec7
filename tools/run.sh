#!/usr/bin/env bash
# Builds the program and starts it.
#
#   bash tools/run.sh              the program wired to the built-in amplifier simulator, on
#                                  a throwaway settings folder with COM1 already chosen; type
#                                  simulator commands (help, overpower, band, ...) here; the
#                                  program's own options (--notify, --journal FILE, --serve
#                                  [ADDRESS:]PORT, --serve-host NAME, --mqtt URL, --mqtt-ca
#                                  FILE, --mqtt-password-file FILE, --mqtt-node ID,
#                                  --mqtt-control) go to the program, the others to the simulator
#   bash tools/run.sh --amplifier  the program on its own, with your settings and ports
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
# Only the two programs it starts: the window comes up without waiting for the tests.
TARGETS="wattmeter wattmeter-sim" "$here/tools/setup.sh"
bin=$BUILD_DIR/bin

if [ "${1:-}" = "--amplifier" ]; then
    shift
    exec "$bin/wattmeter" "$@"
fi

program_options=()
simulator_options=()
while (($#)); do
    case $1 in
    --notify | --mqtt-control) program_options+=("$1") ;;
    --journal | --serve | --serve-host | --mqtt | --mqtt-ca | --mqtt-password-file | --mqtt-node)
        program_options+=("$1" "${2:?$1 needs a value}") && shift ;;
    *) simulator_options+=("$1") ;;
    esac
    shift
done

. "$here/tools/lib.sh"
wattmeter_work
wattmeter_settings
# The simulator reads its commands from this terminal while the window runs.
start_simulator - ${simulator_options[@]+"${simulator_options[@]}"} <&0

cat <<'TXT'
The window is wired to a simulated amplifier on COM1. Choose Polling > Enabled for live
readings (and Include Current for the stage currents), or press Power, Current or Status.
Type simulator commands here and press Enter: help lists them (overpower, vswr, band,
split, noise, vanish, clear, ...). Close the window to stop.
TXT
"$bin/wattmeter" ${program_options[@]+"${program_options[@]}"}

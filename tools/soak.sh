#!/usr/bin/env bash
# Soak: runs the program against the amplifier simulator at full speed, with automatic polling
# and current polling on, for DURATION seconds (default 600), and records the program's resident
# memory, open file descriptors and CPU time every INTERVAL seconds (default 10). Both memory and
# descriptors should stay flat. Not a CI test: it takes minutes and needs an X server (Xvfb).
#
#   tools/soak.sh [DURATION] [INTERVAL]
#
# BUILD_DIR picks the build (default: build); it is configured and built first.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
duration=${1:-600}
interval=${2:-10}
export BUILD_DIR=${BUILD_DIR:-$here/build}
EXTRA_PACKAGES="xvfb xauth xdotool ${EXTRA_PACKAGES:-}" "$here/tools/setup.sh"

. "$here/tools/lib.sh"
wattmeter_work
wattmeter_settings
start_simulator "$work/sim.log" --fast </dev/null

# Runs on the virtual display: starts the program, turns polling on through the menus as an
# operator would, then samples.
cat >"$work/on-display.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
build_dir=$1 duration=$2 interval=$3 work=$4 here=$5
. "$here/tools/lib.sh"
"$build_dir/bin/wattmeter" >"$work/app.log" 2>&1 &
app=$!
window=$(timeout 20 xdotool search --sync --name '^Vorlan Amp Wattmeter by Q7ZX$' | head -1)
sleep 1
polling_from_menus "$window"
grep -q '^< RESET' "$work/sim.log" || echo "the program did not open the simulator's port" >&2

ticks=$(getconf CLK_TCK)
printf '%8s %10s %5s %8s %7s\n' seconds rss_kB fds cpu_s polls
start=$(date +%s)
while :; do
    now=$(( $(date +%s) - start ))
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$app/status")
    fds=$(ls "/proc/$app/fd" | wc -l)
    cpu=$(awk -v t="$ticks" '{printf "%.2f", ($14 + $15) / t}' "/proc/$app/stat")
    polls=$(grep -c '^< POWER' "$work/sim.log" || true)
    printf '%8d %10d %5d %8s %7d\n' "$now" "$rss" "$fds" "$cpu" "$polls" | tee -a "$work/samples"
    (( now >= duration )) && break
    sleep "$interval"
done
kill "$app"
wait "$app" 2>/dev/null || true
INNER
chmod +x "$work/on-display.sh"
xvfb-run -a "$work/on-display.sh" "$BUILD_DIR" "$duration" "$interval" "$work" "$here"

awk 'NR == 1 {r0 = $2; f0 = $3; c0 = $4}
     {if ($2 > rmax) rmax = $2; if ($3 > fmax) fmax = $3; r = $2; f = $3; c = $4; p = $5; s = $1}
     END {printf "\nresident: %d kB at first sample, %d kB at last, %d kB at most\n", r0, r, rmax
          printf "descriptors: %d at first sample, %d at last, %d at most\n", f0, f, fmax
          printf "CPU: %.2f s over %d s; %d polls answered\n", c - c0, s, p}' "$work/samples"
if [ "$(grep -c '^< POWER' "$work/sim.log" || true)" -eq 0 ]; then
    echo "the simulator saw no poll: polling was not switched on" >&2
    exit 1
fi

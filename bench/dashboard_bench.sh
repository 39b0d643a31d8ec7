#!/usr/bin/env bash
# Measures the dashboard's web server under load, with the program polling the amplifier
# simulator under Xvfb, and Debian's nginx serving files of the same sizes as the anchor:
#   - wrk (CONNECTIONS connections, 2 threads, WRK_S seconds) on /api/readings and /metrics, the
#     program's and nginx's in turn: requests per second and the 99th percentile of latency;
#   - meanwhile, the window's worst answer to the window manager's ping (peer_probe.py's Pinger);
#   - the program's resident memory before the load and after it;
#   - LIVE_CLIENTS live pages on /live for LIVE_S seconds (live_clients): per reading and page,
#     the delay from the reading reaching the window to the page getting the new state.
# Prints a table with the goals beside the figures.
#
#   bash bench/dashboard_bench.sh
#
# Settings (environment): BUILD_DIR=build (built with tools/setup.sh first when missing; a build
# configured with -DWATTMETER_BUILD_BENCH=ON has live_clients, otherwise it is compiled here),
# CONNECTIONS=50, WRK_S=10, LIVE_CLIENTS=100, LIVE_S=60, NGINX_WORKERS=auto (as Debian ships
# nginx). Takes about two minutes with the defaults.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build}
CONNECTIONS=${CONNECTIONS:-50}
WRK_S=${WRK_S:-10}
LIVE_CLIENTS=${LIVE_CLIENTS:-100}
LIVE_S=${LIVE_S:-60}
NGINX_WORKERS=${NGINX_WORKERS:-auto}

"$here/tools/install-packages.sh" wrk nginx curl xvfb xdotool x11-utils python3-xlib pkg-config \
    g++ qt6-websockets-dev
[ -x "$BUILD_DIR/bin/wattmeter" ] || "$here/tools/setup.sh"

. "$here/tools/lib.sh"
wattmeter_work

live_clients=$BUILD_DIR/bin/live_clients
if [ ! -x "$live_clients" ]; then
    live_clients=$work/live_clients
    # shellcheck disable=SC2046
    g++ -O2 -fPIC -std=c++20 -o "$live_clients" "$here/bench/live_clients.cpp" \
        $(pkg-config --cflags --libs Qt6WebSockets)
fi

start_display
unset QT_QPA_PLATFORM
wattmeter_settings
start_simulator "$work/sim.log" --fast </dev/null

"$BUILD_DIR/bin/wattmeter" --serve 0 >/dev/null 2>"$work/app.log" &
app=$!
pids+=("$app")
wait_for grep -qs 'dashboard at' "$work/app.log" || true
port=$(sed -n 's|.*dashboard at http://[^/]*:\([0-9]*\)/.*|\1|p' "$work/app.log")
[ -n "$port" ] || { cat "$work/app.log"; echo "no dashboard line" >&2; exit 1; }
app_url=http://127.0.0.1:$port

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vorlan Amp Wattmeter by Q7ZX$' |
         head -1)
sleep 1
polling_from_menus "$window"
has_reading() { curl -s "$app_url/api/readings" | grep -q '"time":"'; }
wait_for has_reading || { echo "no reading: polling was not switched on" >&2; exit 1; }
sleep 3 # a few more readings, with the currents

# nginx on a free loopback port, serving files as large as the program's two answers now.
mkdir -p "$work/www/api"
chmod go+x "$work" # nginx's workers run as nobody when it is started as root
curl -s "$app_url/api/readings" >"$work/www/api/readings"
curl -s "$app_url/metrics" >"$work/www/metrics"
nginx_port=$(/usr/bin/python3 -c \
    'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<EOF
worker_processes $NGINX_WORKERS;
pid $work/nginx.pid;
events {}
http {
    access_log off;
    keepalive_requests 1000000; # the program keeps a connection as long as the client does
    client_body_temp_path $work/t0; proxy_temp_path $work/t1; fastcgi_temp_path $work/t2;
    uwsgi_temp_path $work/t3; scgi_temp_path $work/t4;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
        default_type application/octet-stream;
    }
}
EOF
nginx -e "$work/nginx-error.log" -c "$work/nginx.conf" -g 'daemon off;' &
pids+=($!)
nginx_url=http://127.0.0.1:$nginx_port
wait_for curl -sf -o /dev/null "$nginx_url/metrics" || { echo "nginx did not start" >&2; exit 1; }

rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$app/status"; }

# The window manager's ping every 20 ms for the given seconds; prints the worst answer (ms).
ping_window() { # seconds
    /usr/bin/python3 - "$here/bench" "$window" "$1" <<'PY'
import sys, time
sys.path.insert(0, sys.argv[1])
from peer_probe import Pinger
pinger = Pinger(int(sys.argv[2]))
pinger.start()
time.sleep(float(sys.argv[3]))
pinger.stop()
print(f"{pinger.worst_ms():.0f}")
PY
}

# wrk on one URL; prints requests per second, the 99th percentile (ms) and the failures.
load() { # url
    wrk -t2 -c"$CONNECTIONS" -d"${WRK_S}s" --latency "$1" >"$work/wrk.out"
    awk '/^Requests\/sec:/ {rps = $2}
         $1 == "99%" {v = $2; if (sub(/us$/, "", v)) v /= 1000; else if (sub(/ms$/, "", v)) v += 0;
                      else if (sub(/s$/, "", v)) v *= 1000; else if (sub(/m$/, "", v)) v *= 60000}
         /Socket errors|Non-2xx/ {sub(/^ */, ""); gsub(/ /, "_"); failures = failures $0 ";"}
         END {printf "%.0f %.1f %s\n", rps, v, failures == "" ? "-" : failures}' "$work/wrk.out"
}

echo "Dashboard on port $port, nginx ($NGINX_WORKERS workers) on $nginx_port; load average:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
declare -A rps p99 fail ping size live
rss_before=$(rss_mb)
for path in /api/readings /metrics; do
    size[$path]=$(wc -c <"$work/www${path}")
    echo "wrk on $path: the program's (with the pinger), then nginx's ..."
    ping_window $((WRK_S + 1)) >"$work/ping" &
    pinger=$!
    pids+=("$pinger")
    read -r rps[app$path] p99[app$path] fail[app$path] < <(load "$app_url$path")
    wait "$pinger"
    ping[$path]=$(cat "$work/ping")
    read -r rps[nginx$path] p99[nginx$path] fail[nginx$path] < <(load "$nginx_url$path")
done
sleep 1 # the closed connections go at the next turn of the event loop
rss_after_http=$(rss_mb)

echo "$LIVE_CLIENTS live pages for $LIVE_S s ..."
"$live_clients" "ws://127.0.0.1:$port/live" "$LIVE_CLIENTS" "$LIVE_S" >"$work/live" &
pids+=($!)
sleep "$((LIVE_S / 2))"
rss_live=$(rss_mb)
wait "${pids[-1]}" || true
read -ra words <"$work/live" || true
for word in "${words[@]}"; do
    live[${word%%=*}]=${word#*=}
done
sleep 2
rss_after_live=$(rss_mb)

# yes or NO: whether value op limit.
met() { awk -v v="$1" -v l="$3" -v op="$2" \
        'BEGIN {ok = op == "<=" ? v <= l : v >= l; print ((v != "" && ok) ? "yes" : "NO")}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
growth=$(awk -v a="$rss_before" -v b="$rss_after_http" 'BEGIN {printf "%.1f", b - a}')

row() { printf '| %-40s | %14s | %12s | %-10s | %-4s |\n' "$@"; }
echo
row figure wattmeter nginx goal met
row --- --- --- --- ---
for path in /api/readings /metrics; do
    r=$(ratio "${rps[app$path]}" "${rps[nginx$path]}")
    row "$path (${size[$path]} B) requests/s" "${rps[app$path]}" "${rps[nginx$path]}" "" "" \
        "  program/nginx" "${r}x" "" ">= 0.3x" "$(met "$r" '>=' 0.3)" \
        "  99th percentile latency (ms)" "${p99[app$path]}" "${p99[nginx$path]}" "<= 20 ms" \
        "$(met "${p99[app$path]}" '<=' 20)" \
        "  worst ping answer meanwhile (ms)" "${ping[$path]}" "" "<= 100 ms" \
        "$(met "${ping[$path]}" '<=' 100)"
done
row "RSS before load (MB)" "$rss_before" "" "" "" \
    "RSS after wrk (MB)" "$rss_after_http" "" "" "" \
    "  growth (MB)" "$growth" "" "<= 5 MB" "$(met "$growth" '<=' 5)" \
    "RSS with the live pages open (MB)" "$rss_live" "" "" "" \
    "RSS after they closed (MB)" "$rss_after_live" "" "" "" \
    "live: readings x pages stayed (delays)" \
    "${live[readings]:-0}x${live[clients]:-0} (${live[delays]:-0})" "" "" "" \
    "  delay, median (ms)" "${live[median]:--}" "" "" "" \
    "  delay, 99th percentile (ms)" "${live[p99]:--}" "" "<= 100 ms" "$(met "${live[p99]:-}" '<=' 100)" \
    "  delay, max (ms)" "${live[max]:--}" "" "" ""
for key in "${!fail[@]}"; do
    [ "${fail[$key]}" = - ] || echo "wrk failures on $key: ${fail[$key]//_/ }"
done
[ "${live[clients]:-0}" = "$LIVE_CLIENTS" ] ||
    echo "live: only ${live[clients]:-0} of $LIVE_CLIENTS pages stayed connected"

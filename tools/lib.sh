# Shared by the tools and benchmarks that run the program against the simulator; sourced, never
# run. Each function says what it leaves behind. Background processes go into the array pids,
# which wattmeter_cleanup ends in reverse order (the last started goes first).
#
#   . "$here/tools/lib.sh"
#   wattmeter_work               # a temporary folder in $work, removed on exit
#   wattmeter_settings           # a settings store of its own with COM1 chosen
#   start_simulator LOG [OPTION...]   # the simulator on COM1, its output in LOG
#   start_display                # Xvfb of its own; DISPLAY set
#   polling_from_menus WINDOW    # Polling > Enabled, then Include Current, with the keyboard

pids=()

wattmeter_cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[$i]}" 2>/dev/null || continue # it ended already
        wait "${pids[$i]}" 2>/dev/null || true
    done
    [ -n "${work:-}" ] && rm -rf "$work"
}

wattmeter_work() {
    work=$(mktemp -d)
    trap wattmeter_cleanup EXIT
    trap 'exit 130' INT TERM
}

# Tries a command every 0.1 s for 10 s.
wait_for() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# XDG_CONFIG_HOME in $work, holding a store that opens COM1 at start.
wattmeter_settings() {
    export XDG_CONFIG_HOME=$work/config
    mkdir -p "$XDG_CONFIG_HOME/Vorlan Wattmeter"
    printf '[settings]\nport=1\n' >"$XDG_CONFIG_HOME/Vorlan Wattmeter/Vorlan Wattmeter.conf"
}

# The simulator serving COM1 in the settings store above, ready once its link is in place.
# Standard input is the caller's (run.sh types commands to it); LOG "-" keeps its output on the
# terminal.
start_simulator() {
    local log=$1
    shift
    if [ "$log" = - ]; then
        "$BUILD_DIR/bin/wattmeter-sim" --com 1 "$@" <&0 &
    else
        "$BUILD_DIR/bin/wattmeter-sim" --com 1 "$@" <&0 >"$log" 2>&1 &
    fi
    pids+=($!)
    local sim=$!
    simulator_up() { [ -L "$XDG_CONFIG_HOME/Vorlan Wattmeter/ports/com1" ] || ! kill -0 "$sim"; }
    wait_for simulator_up && kill -0 "$sim" 2>/dev/null || {
        [ "$log" = - ] || cat "$log"
        echo "The simulator did not start." >&2
        return 1
    }
}

# An X server of our own, with no window manager: nothing else paints or answers for the programs.
start_display() {
    local display=90
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=":$display"
    wait_for xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start." >&2; return 1; }
}

# Polling on as an operator would: no window manager, so the window is given the keyboard
# directly (Qt ignores keys sent to a window without focus). "P&orts" and "P&olling" share Alt+O,
# so the second press moves on to Polling; E is "&Enabled", I "&Include Current".
polling_from_menus() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    for item in e i; do
        xdotool key alt+o sleep 0.3 key alt+o sleep 0.3 key "$item" sleep 0.5
    done
}

# shellcheck shell=bash
# Driving the running Linux build for the fault, soak and memory runs:
# start it, press its buttons, tell whether it still answers, read its
# button state and its streams on the sound server. Source after lib.sh.
#
# The window has no window manager around it, so it is its client area;
# xdotool's pointer clicks are real input events, which Qt stamps on the
# window as _NET_WM_USER_TIME only once its event loop has handled them.

APP=${LARKSPAN_APP:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/larkspan}
APP_ARGS=()  # the program's command line
APP_WAIT=10  # seconds for its window to appear
APP_PID=
APP_WIN=

# Starts the program (with `cmd...` in front, e.g. valgrind) and finds its
# window and the places of its buttons.
app_start() {  # log [cmd...]
    local log=$1
    shift
    "$@" "$APP" "${APP_ARGS[@]}" >"$log" 2>&1 &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
    local i
    APP_WIN=
    for i in $(seq $((APP_WAIT * 10))); do
        APP_WIN=$(xdotool search --name "^Larkspan 1.0" 2>/dev/null | head -1)
        [ -n "$APP_WIN" ] && break
        sleep 0.1
    done
    if [ -z "$APP_WIN" ]; then
        echo "no window; log:" >&2
        cat "$log" >&2
        echo "display $DISPLAY: $(xdpyinfo >/dev/null 2>&1 && echo answers || echo "does not answer")" >&2
        cat "$E2E_DIR/xvfb.log" >&2 2>/dev/null
        return 1
    fi
    app_geometry
}

app_geometry() {
    eval "$(xdotool getwindowgeometry --shell "$APP_WIN")"
    APP_BX=$(((WIDTH * 4 + 117) / 235))
    APP_BY=$(((HEIGHT * 8 + 80) / 160))
    APP_REC_X=$(muldiv 27 $APP_BX 4)
    APP_STOP_X=$(muldiv 71 $APP_BX 4)
    APP_BUTTON_Y=$(muldiv 145 $APP_BY 8)
}

app_click() {  # x y
    xdotool mousemove --window "$APP_WIN" "$1" "$2" click 1
}
app_record() { app_click "$APP_REC_X" "$APP_BUTTON_Y"; }
app_stop() { app_click "$APP_STOP_X" "$APP_BUTTON_Y"; }

app_user_time() {
    xprop -id "$APP_WIN" _NET_WM_USER_TIME 2>/dev/null | awk '{print $NF}'
}

# Clicks on the waveform band, which does nothing, and waits for the
# program to handle the click. Prints the milliseconds it took; fails if
# it took longer than `limit` seconds.
app_probe() {  # [limit]
    local limit=${1:-5} before start now
    before=$(app_user_time)
    start=$(date +%s%N)
    app_click 0 10
    while :; do
        now=$(date +%s%N)
        [ "$(app_user_time)" != "$before" ] && { echo $(((now - start) / 1000000)); return 0; }
        [ $((now - start)) -gt $((limit * 1000000000)) ] && { echo "over ${limit}000"; return 1; }
        sleep 0.05
    done
}

# Whether a button is enabled: its caption is drawn dark, not greyed.
app_enabled() {  # png left-in-dialog-units
    local dark
    dark=$(convert "$1" -crop "$(muldiv 40 $APP_BX 4)x$(muldiv 14 $APP_BY 8)+$(muldiv "$2" $APP_BX 4)+$(muldiv 138 $APP_BY 8)" \
        +repage -colorspace gray -threshold 30% -negate -format "%[fx:mean*w*h]" info:)
    [ "${dark%.*}" -gt 10 ]
}

# idle (Record enabled, Stop disabled), active (the reverse), or other.
app_buttons() {
    local png=$E2E_DIR/buttons.png
    import -window "$APP_WIN" "$png" 2>/dev/null || { echo none; return; }
    if app_enabled "$png" 7 && ! app_enabled "$png" 51; then
        echo idle
    elif ! app_enabled "$png" 7 && app_enabled "$png" 51; then
        echo active
    else
        echo other
    fi
}

# Waits up to `limit` seconds for the buttons to show `state`.
app_wait_buttons() {  # state [limit]
    local end=$(($(date +%s) + ${2:-5}))
    while [ "$(app_buttons)" != "$1" ]; do
        [ "$(date +%s)" -ge $end ] && return 1
        sleep 0.1
    done
}

# The program's streams and connections on the sound server: sink inputs,
# source outputs and clients carrying its process id, so 3 while it
# records and 0 when it is idle. Empty when the server does not answer.
app_streams() {
    local what total=0 n
    for what in sink-inputs source-outputs clients; do
        n=$(timeout 5 pactl list "$what" 2>/dev/null) || { echo ""; return; }
        n=$(grep -c "application.process.id = \"$APP_PID\"" <<<"$n")
        total=$((total + n))
    done
    echo $total
}

# Waits up to `limit` seconds until app_streams shows `n`.
app_wait_streams() {  # n [limit]
    local end=$(($(date +%s) + ${2:-5}))
    while [ "$(app_streams)" != "$1" ]; do
        [ "$(date +%s)" -ge $end ] && return 1
        sleep 0.1
    done
}

app_rss() {  # kB
    awk '/^VmRSS:/ {print $2}' "/proc/$APP_PID/status"
}

app_alive() { kill -0 "$APP_PID" 2>/dev/null && ! grep -q '^State:.*Z' "/proc/$APP_PID/status" 2>/dev/null; }

# Waits up to `limit` seconds for the program to end and sets APP_STATUS
# to its exit status, or to "running". Not in a subshell: only this shell
# can collect the status.
app_wait_exit() {  # [limit]
    local i
    for _ in $(seq $((${1:-10} * 10))); do
        app_alive || break
        sleep 0.1
    done
    if app_alive; then
        APP_STATUS=running
        return 1
    fi
    wait "$APP_PID"
    APP_STATUS=$?
}

# Closes the window with Alt+F4, which arrives as the close box's command,
# then app_wait_exit.
app_close() {  # [limit]
    e2e_key "$APP_WIN" alt+F4
    app_wait_exit "${1:-10}"
}

# Answers the device message box, if it comes within `limit` seconds.
app_answer_box() {  # [limit]
    local box
    for _ in $(seq $((${1:-10} * 10))); do
        box=$(xdotool search --name '^Vazozo1$' 2>/dev/null | head -1)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || return 1
    e2e_key "$box" Return
    return 0
}

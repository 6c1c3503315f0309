# Shared by the end-to-end scripts: a virtual display, the private sound
# server of sound_rig.sh, a test signal into its source, a recording of its
# sink, and looking at the window. Source it; call e2e_cleanup on exit.
# Everything a test writes goes under the private folder of
# scripts/private_root.sh, which scripts/test.sh and every script run alone
# enter first: a test sourcing this outside it would write into the real home.
if [ -z "${LARKSPAN_PRIVATE_ROOT:-}" ]; then
    echo "$0: run it through scripts/private_root.sh (or start it alone, it does so itself)" >&2
    exit 1
fi
E2E_DIR=${E2E_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/larkspan-e2e.XXXXXX")}
E2E_PIDS=()
E2E_FAILS=0

e2e_check() {  # e2e_check "what" command...
    local what=$1
    shift
    if "$@"; then
        echo "  ok    $what"
    else
        echo "  FAIL  $what"
        E2E_FAILS=$((E2E_FAILS + 1))
    fi
}

# Xvfb picks a free display number itself (-displayfd), so runs that
# start at the same moment never share one. -noreset: otherwise the server
# resets when its last client leaves, and a program started at that moment
# cannot connect.
e2e_display() {  # [widthxheight]
    local n='' pid
    Xvfb -displayfd 3 -screen 0 "${1:-1280x1024}x24" -nolisten tcp -noreset 3>"$E2E_DIR/display" >"$E2E_DIR/xvfb.log" 2>&1 &
    pid=$!
    E2E_PIDS+=("$pid")
    for _ in $(seq 100); do
        n=$(cat "$E2E_DIR/display" 2>/dev/null)
        [ -n "$n" ] && DISPLAY=:$n xdpyinfo >/dev/null 2>&1 && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$n" ] && DISPLAY=:$n xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$n
}

# Types keys into a window as the keyboard would: the window takes the
# focus and the keys go through the server's input (XTEST), so modifiers
# are pressed and released like real ones even when the window goes away
# on the key press. (Keys sent to a window directly, xdotool key --window,
# were now and then not taken as Alt+F4 on a display that does not reset.)
e2e_key() {  # window keys...
    local window=$1
    shift
    xdotool windowfocus "$window" 2>/dev/null
    xdotool key "$@"
}

e2e_sound_server() {
    eval "$(bash "$(dirname "${BASH_SOURCE[0]}")/sound_rig.sh" start "$E2E_DIR/rig")"
}

e2e_cleanup() {
    local p
    for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    bash "$(dirname "${BASH_SOURCE[0]}")/sound_rig.sh" stop "$E2E_DIR/rig" >/dev/null 2>&1 || true
    wait 2>/dev/null || true
}

# Records the rig's bus (left: what went in, right: what came out) to a
# raw s16le stereo file for `seconds`, in the background.
e2e_record_bus() {  # file seconds
    timeout "$2" parec -d bus.monitor --raw --format=s16le --rate=11025 --channels=2 --latency-msec=5 >"$1" &
    E2E_PIDS+=($!)
}

# Plays a 440 Hz tone burst into the source: `pause` s of silence, then
# `length` s of tone.
e2e_play_tone() {  # pause length
    sox -q -D -n -r 11025 -b 16 -e signed-integer -c 2 -t raw "$E2E_DIR/tone.raw" \
        synth "$2" sine 440 gain -6 pad "$1" 0 remix 1 0
    pacat -d bus --raw --format=s16le --rate=11025 --channels=2 --latency-msec=10 <"$E2E_DIR/tone.raw" &
    E2E_PIDS+=($!)
}

# The window with this title, waiting up to 10 s for it.
e2e_window() {  # title
    local w
    for _ in $(seq 100); do
        w=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}

# Win32 MulDiv: a*b/c rounded half away from zero.
muldiv() { echo $((($1 * $2 * 2 + $3) / ($3 * 2))); }

# The mean brightness (0..1) of a rectangle of a PNG.
e2e_mean() {  # png x y w h
    convert "$1" -crop "$4x$5+$2+$3" +repage -colorspace gray -format "%[fx:mean]" info:
}

# The colour of one pixel of a PNG as rrggbb.
e2e_pixel() {  # png x y
    convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1 | tr -d '#'
}

# How many pixels of a rectangle are pure green.
e2e_green() {  # png x y w h
    convert "$1" -crop "$4x$5+$2+$3" +repage -depth 8 txt:- | grep -c '#00FF00'
}

# The Linux build's delay window: two blocks (0.372 s) and at most 30 ms
# more; PipeWire may start capture a quantum (21 ms) after playback, which
# makes it less than two blocks.
LINUX_DELAY_TEXT="0.33 to 0.41 s"
linux_delay_ok() {  # delay in seconds, or "none"
    python3 -c "import sys; d='$1'; sys.exit(0 if d != 'none' and 0.33 <= float(d) <= 0.41 else 1)"
}

#!/usr/bin/env bash
# The Linux build on Wayland: a headless weston, no X display at all. The
# window shows, Record and Stop are pressed through AT-SPI (headless weston
# has no input devices), the sound passes with the usual delay, the band is
# drawn, the streams close on Stop; then again at scale 2. Without a
# display Qt can open, the program says so in one line and exits with 1.
#
# LARKSPAN_SHOTS_DIR=dir keeps copies of the screenshots there.

E2E_NEEDS="session app sound"
source "$(dirname "$0")/lib.sh"
here=$E2E_LIB app=$APP
# The client area's width for the Linux layer's base units, before scaling.
# shellcheck disable=SC2086 # two numbers
dialog_geometry $LINUX_BASE_UNITS
w=$DLG_WIDTH
desktop_accessibility

start() {  # log: the program on the Wayland display, found on the accessibility bus
    "$app" >"$1" 2>&1 &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
    atspi wait larkspan Record enabled >/dev/null || { echo "no window:"; cat "$1"; return 1; }
}

# The band in a screenshot and its green dots: band.py's figures, as
# BAND_WIDTH, BAND_HEIGHT, GREEN (pixels) and GREEN_BOX (x y width height);
# and the title bar above it, as TITLE_GROUPS (of ink) and TITLE_TEXT.
measure() {  # png
    local figures
    figures=$(python3 "$here/band.py" "$1" --title)
    echo "$figures" | sed 's/^/  /'
    read -r _ _ _ BAND_WIDTH BAND_HEIGHT _ GREEN _ GREEN_BOX <<<"$figures"
    read -r _ _ _ _ _ _ TITLE_GROUPS _ TITLE_TEXT < <(grep '^title ' <<<"$figures")
}
# weston draws no title bars (it offers no xdg-decoration manager), so the
# program, having asked it, draws its own. As on Windows: the caption from
# its start, cut at the right with an ellipsis; the close box, and no
# minimize or maximize button, which the template does not ask for.
title_bar() {
    if [ "$TITLE_TEXT" = "?" ]; then
        echo "  skipped: reading the caption needs tesseract (scripts/deps.sh test)"
    else
        e2e_check "the caption reads from its start, cut at the right: $TITLE_TEXT" \
            grep -qE '^Larkspan 1\.0 by the .*(\.\.\.|…)$' <<<"$TITLE_TEXT"
    fi
    e2e_check "the title bar has the caption and one button" test "$TITLE_GROUPS" = 2
}
keep() {  # png
    [ -n "${LARKSPAN_SHOTS_DIR:-}" ] && cp "$1" "$LARKSPAN_SHOTS_DIR/" && echo "  kept $LARKSPAN_SHOTS_DIR/$(basename "$1")"
    return 0
}

# No panel: weston may place the window under it, which hides the title bar.
printf '[shell]\npanel-position=none\n' >"$E2E_DIR/weston.ini"
echo "On weston, scale 1"
desktop_weston --config="$E2E_DIR/weston.ini" || exit 1
start "$E2E_DIR/app.log" || exit 1
# Qt's display plugins are libraries it loads: Wayland's, and not X's.
e2e_check "on Qt's Wayland plugin, not X" bash -c "grep -q libqwayland /proc/$APP_PID/maps && ! grep -q libqxcb /proc/$APP_PID/maps"
e2e_record_bus "$E2E_DIR/bus.raw" 7
atspi press larkspan Record
e2e_check "Record pressed: Stop enabled" atspi wait larkspan Stop enabled
e2e_check "both streams open" app_wait_streams 3
e2e_play_tone 0.5 2
sleep 1.5
desktop_screenshot "$E2E_DIR/wayland.png"
e2e_check "a screenshot of the screen" test -s "$E2E_DIR/wayland.png"
echo "  screenshot: $E2E_DIR/wayland.png"
keep "$E2E_DIR/wayland.png"
measure "$E2E_DIR/wayland.png"
e2e_check "the band is drawn, $w x 256 pixels" test "$BAND_WIDTH x $BAND_HEIGHT" = "$w x 256"
title_bar
e2e_check "the tone drawn as green dots off the middle row" test "${GREEN:-0}" -gt 400
sleep 4
delay=$(python3 "$here/delay.py" "$E2E_DIR/bus.raw")
echo "  delay: $delay s"
e2e_check "the tone came out $LINUX_DELAY_TEXT later" linux_delay_ok "$delay"
atspi press larkspan Stop
e2e_check "Stop pressed: Record enabled" atspi wait larkspan Record enabled
e2e_check "Stop closes the streams" app_wait_streams 0
kill "$APP_PID"
wait "$APP_PID" 2>/dev/null
kill "$WESTON_PID"
wait "$WESTON_PID" 2>/dev/null

echo "On weston, scale 2"
desktop_weston --config="$E2E_DIR/weston.ini" --scale=2 || exit 1
start "$E2E_DIR/app2.log" || exit 1
atspi press larkspan Record
e2e_check "Record pressed: Stop enabled" atspi wait larkspan Stop enabled
sleep 1
desktop_screenshot "$E2E_DIR/wayland-scale2.png"
keep "$E2E_DIR/wayland-scale2.png"
measure "$E2E_DIR/wayland-scale2.png"
e2e_check "the band is $((2 * w)) x 512 device pixels" test "$BAND_WIDTH x $BAND_HEIGHT" = "$((2 * w)) x 512"
title_bar
# Silence is one row of dots on row 128: two device rows, all of the width.
e2e_check "silence: a line $((2 * w)) x 2 device pixels at row 256" test "$GREEN_BOX" = "0 256 $((2 * w)) 2"
atspi press larkspan Stop
e2e_check "the streams close" app_wait_streams 0
kill "$APP_PID"
wait "$APP_PID" 2>/dev/null

echo "No display Qt can open"
say=$(env -u DISPLAY WAYLAND_DISPLAY=wayland-nonexistent "$app" 2>&1)
status=$?
echo "  $say"
e2e_check "a compositor that is not there: exit 1" test $status = 1
e2e_check "and one line of the program's own" test "$(wc -l <<<"$say")" = 1 -a "${say#larkspan: }" != "$say"
say=$(env -u DISPLAY QT_QPA_PLATFORM=wayland-missing "$app" 2>&1)
status=$?
echo "  $say"
e2e_check "a display plugin that is not installed: exit 1, one line" \
    test $status = 1 -a "$(wc -l <<<"$say")" = 1 -a "${say#larkspan: }" != "$say"

e2e_result "wayland e2e"

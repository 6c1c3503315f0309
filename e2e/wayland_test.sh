#!/usr/bin/env bash
# The Linux build on Wayland, no X display at all, on headless weston,
# GNOME's mutter and KDE's KWin (each skipped with a line where it cannot
# start). The window shows with one title bar, Record and Stop are pressed
# through AT-SPI (there are no input devices), the sound passes with the
# usual delay, the band is drawn, the streams close on Stop; then at scale 2
# (and 1.5 on mutter), and the device message box. On mutter a virtual
# pointer drags the bar and an edge and clicks the close box. Without a
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
caption="Larkspan 1.0 by the Larkspan developers, December 2026"
# No panel: weston may place the window under it, which hides the title bar;
# no fade-in, which would leave the empty desktop a shade darker.
printf '[shell]\npanel-position=none\nstartup-animation=none\n' >"$E2E_DIR/weston.ini"

start() {  # log: the program on the Wayland display, found on the accessibility bus
    "$app" >"$1" 2>&1 &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
    atspi wait larkspan Record enabled >/dev/null || { echo "no window:"; cat "$1"; return 1; }
}
keep() { [ -z "${LARKSPAN_SHOTS_DIR:-}" ] || cp "$1" "$LARKSPAN_SHOTS_DIR/"; }  # png

# A screenshot and band.py's figures on it: BAND_X ... GREEN_BOX, TITLE_X ...
# TITLE_TEXT (CLOSE_X, CLOSE_Y: the bar's last group of ink; TITLE_ABOVE
# desktop: no other bar above it), all in FIGURES.
shot() {  # png
    { desktop_screenshot "$1" && keep "$1"; } || rm -f "$1"
    figures "$1"
}
figures() {  # png [--title]
    FIGURES=
    [ ! -s "$1" ] || FIGURES=$(python3 "$here/band.py" "$1" ${2:+"$2"} --desktop "$DESKTOP_SHOT")
    # Noughts where there is no band, so that the checks fail and the rest runs.
    read -r _ BAND_X BAND_Y BAND_WIDTH BAND_HEIGHT _ GREEN _ GREEN_BOX < <(grep '^band ' <<<"$FIGURES" || echo b 0 0 0 0 g 0)
    read -r _ TITLE_X TITLE_Y TITLE_WIDTH TITLE_HEIGHT _ TITLE_GROUPS _ CLOSE_X CLOSE_Y _ TITLE_ABOVE _ TITLE_TEXT \
        < <(grep '^title ' <<<"$FIGURES" || echo 't 0 0 0 0 g 0 b 0 0 a none t ?')
}
# Screenshots until the band looks as `check args...` wants, for up to 10 s;
# then the figures of the last one, with its title bar's. A full screen
# takes band.py 0.6 s or more, and tesseract as long again, so the title bar
# is read once.
shot_until() {  # name check args...
    local png=$E2E_DIR/$1.png
    shift
    e2e_shot_until 10 "$png" shot -- "$@"
    figures "$png" --title
    echo "$FIGURES" | sed 's/^/  /'
}
# What run and pointer look for; the screenshot comes last and is not read:
# shot has read it.
# Qt 6.4 has no fractional scaling: at 1.5 it draws at 2, and mutter
# shrinks that by 0.75; the band's last column, half a pixel, is a blend.
band_size() {  # scale
    awk -v s="$1" "BEGIN { exit !($BAND_WIDTH >= int(s * $w) && $BAND_WIDTH <= int(s * $w + 0.5) && $BAND_HEIGHT == s * 256) }"
}
tone_drawn() { test "${GREEN:-0}" -gt 400; }
# Silence is one row of dots on row 128: two device rows, all of the width.
silence_at_2() { test "$GREEN_BOX" = "0 256 $((2 * w)) 2"; }
band_drawn() {  # scale png
    band_size "$1" && case $1 in 1) tone_drawn ;; 2) silence_at_2 ;; esac
}
band_at() { test "$BAND_X $BAND_Y" = "$1 $2"; }  # x y png
band_wide() { test "$BAND_WIDTH" = "$1"; }  # width png
# The program's title bar in the accessibility tree: the window's first
# child, named by its caption, its close box a push button "Close" to press.
bar_in_tree() {  # role caption
    local tree
    tree=$(atspi tree larkspan | grep -A2 -F "$1 \"$2\" [")
    [[ $(sed -n 2p <<<"$tree") == *"text \"$2\" ["* && $(sed -n 3p <<<"$tree") == *'push button "Close" ['*Press ]]
}
reads() {  # what regex text: a check of what tesseract read, where it is installed
    command -v tesseract >/dev/null || { echo "  skipped: $1 (reading needs tesseract, scripts/deps.sh test)" && return; }
    e2e_check "$1" grep -qE "$2" <<<"$3"
}
no_bar_in_tree() { local t && t=$(atspi tree larkspan) && grep -q '^  dialog ' <<<"$t" && ! grep -q '^    text ' <<<"$t"; }
# weston and mutter draw no title bars (they offer no xdg-decoration
# manager), so the program draws its own. As on Windows: the caption from
# its start, cut at the right with an ellipsis; the close box, and no
# minimize or maximize button, which the template does not ask for.
title_bar() {
    if [ "$DESKTOP" = kwin ]; then
        reads "KWin's title bar over the band: $TITLE_TEXT" '^Larkspan 1\.0 ' "$TITLE_TEXT"
        e2e_check "and none of the program's own" no_bar_in_tree
        return
    fi
    reads "the caption reads from its start, cut at the right: $TITLE_TEXT" '^Larkspan 1\.0 by the .*(\.\.\.|…)$' \
        "$TITLE_TEXT"
    e2e_check "the title bar has the caption and one button, and no other bar above it" \
        test "$TITLE_GROUPS $TITLE_ABOVE" = "2 desktop"
    e2e_check "screen readers see it: \"$caption\", a push button \"Close\"" bar_in_tree dialog "$caption"
}

run() {  # compositor scale
    echo "On $1, scale $2"
    desktop_start "$1" "$2" --config="$E2E_DIR/weston.ini" || { echo "  skipped: $DESKTOP_WHY" && return; }
    start "$E2E_DIR/app-$1-$2.log" || { E2E_FAILS=$((E2E_FAILS + 1)); desktop_stop; return; }
    if [ "$2" = 1 ]; then
        # Qt's display plugins are libraries it loads: Wayland's, and not X's.
        e2e_check "on Qt's Wayland plugin, not X" \
            bash -c "grep -q libqwayland /proc/$APP_PID/maps && ! grep -q libqxcb /proc/$APP_PID/maps"
        e2e_record_bus "$E2E_DIR/bus.raw" 7
    fi
    atspi press larkspan Record
    e2e_check "Record pressed: Stop enabled" atspi wait larkspan Stop enabled
    e2e_check "both streams open" app_wait_streams 3
    # 4 s of tone: a screenshot with its figures took up to 2 s on mutter.
    [ "$2" != 1 ] || e2e_play_tone 0.5 4
    shot_until "wayland-$1-$2" band_drawn "$2"
    title_bar
    e2e_check "the band is $2 times $w x 256 device pixels: $BAND_WIDTH x $BAND_HEIGHT" band_size "$2"
    if [ "$2" = 1 ]; then
        e2e_check "the tone drawn as green dots off the middle row" tone_drawn
        sleep 4
        delay=$(python3 "$here/delay.py" "$E2E_DIR/bus.raw")
        echo "  delay: $delay s"
        e2e_check "the tone came out $LINUX_DELAY_TEXT later" linux_delay_ok "$delay"
    elif [ "$2" = 2 ]; then
        e2e_check "silence: a line $((2 * w)) x 2 device pixels at row 256" silence_at_2
    fi
    [ "$1 $2" != "mutter 1" ] || pointer
    atspi press larkspan Stop
    e2e_check "Stop pressed: Record enabled" atspi wait larkspan Record enabled
    e2e_check "Stop closes the streams" app_wait_streams 0
    local how=
    if [ "$1 $2" = "mutter 1" ]; then
        how="a click on the close box" && desktop_dbus mutter-drag "$CLOSE_X" "$CLOSE_Y"
    elif [ "$1" != kwin ]; then
        how="Close pressed through AT-SPI" && atspi press larkspan Close
    fi
    [ -z "$how" ] || { app_wait_exit 5; e2e_check "$how: the program exits with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0; }
    kill "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    [ "$2" != 1 ] || message_box
    desktop_stop
}

# mutter's virtual pointer (its remote-desktop API): a drag of the bar
# moves the window, a drag of its right edge widens it, and the band, drawn
# anew with each block, follows.
pointer() {
    local x=$BAND_X y=$BAND_Y
    desktop_dbus mutter-drag $((TITLE_X + TITLE_WIDTH / 2)) $((TITLE_Y + TITLE_HEIGHT / 2)) 200 100
    shot_until wayland-mutter-moved band_at $((x + 200)) $((y + 100))
    e2e_check "a drag of the bar by 200, 100 moved the window so" band_at $((x + 200)) $((y + 100))
    desktop_dbus mutter-drag $((BAND_X + BAND_WIDTH - 2)) $((BAND_Y + 64)) 100 0
    shot_until wayland-mutter-wider band_wide $((w + 100))
    e2e_check "a drag of its right edge by 100 widened it so" test "$TITLE_WIDTH" = $((w + 100))
    e2e_check "and the band follows at the next block" band_wide $((w + 100))
}

# The device message box, with no sound server: where the dialog has the
# program's title bar, so has the box, "Vazozo1" with a close box; closing
# it ends the program with 0.
message_box() {
    PULSE_SERVER=unix:/nonexistent/socket start "$E2E_DIR/app-$DESKTOP-box.log" || return
    atspi press larkspan Record
    e2e_check "the device message box appears" atspi wait larkspan OK enabled
    sleep 0.5
    desktop_screenshot "$E2E_DIR/wayland-$DESKTOP-box.png" && keep "$E2E_DIR/wayland-$DESKTOP-box.png"
    atspi tree larkspan | sed 's/^/  | /'
    if [ "$DESKTOP" = kwin ]; then
        e2e_check "KWin's title bar on it, none of the program's" no_bar_in_tree
        atspi press larkspan OK
    else
        e2e_check "the program's title bar on it: \"Vazozo1\", a push button \"Close\"" bar_in_tree alert Vazozo1
        atspi press larkspan Vazozo1/Close
    fi
    app_wait_exit 5
    e2e_check "closing the box: the program exits with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
}

for desktop in weston:1 weston:2 mutter:1 mutter:2 mutter:1.5 kwin:1 kwin:2; do
    run "${desktop%:*}" "${desktop#*:}"
done

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

#!/usr/bin/env bash
# The Linux build as a person uses it: under a virtual display, on a
# private sound server whose source hears a test tone and whose sink is
# recorded, clicked with xdotool.

E2E_NEEDS="servers app display sound"
source "$(dirname "$0")/lib.sh"

APP_ARGS=(--anything -x "ignored arguments")
app_start "$E2E_DIR/app.log" || exit 1

echo "Geometry"
# Base units from the client size, then every number of the template must follow from them.
echo "  window ${WIDTH}x${HEIGHT} at $X,$Y; base units $DLG_BX x $DLG_BY"
e2e_check "client area is $DLG_UNITS dialog units" test "$WIDTH" -eq "$DLG_WIDTH" -a "$HEIGHT" -eq "$DLG_HEIGHT"
e2e_check "client area at the template's place" test "$X" -eq "$DLG_LEFT" -a "$Y" -eq "$DLG_TOP"
e2e_check "plausible base units" test "$DLG_BX" -ge 5 -a "$DLG_BX" -le 10 -a "$DLG_BY" -ge 10 -a "$DLG_BY" -le 20
shot() { import -window "$APP_WIN" "$1"; }  # png
silence_line() { test "$(e2e_green "$1" 0 128 "$WIDTH" 1)" -ge $((WIDTH - 2)); }
tone_dots() { test "$(e2e_green "$1" 0 0 "$WIDTH" 120)" -gt 50; }

echo "A recording"
e2e_record_bus "$E2E_DIR/bus.raw"
app_record
e2e_check "silence draws a green line on band row 128" e2e_shot_until 10 "$E2E_DIR/silence.png" shot -- silence_line
e2e_check "both streams open" test "$(rig_streams)" -eq 2
e2e_play_tone 0.3 2
e2e_check "a tone draws green dots off row 128" e2e_shot_until 10 "$E2E_DIR/tone.png" shot -- tone_dots
sleep 3
e2e_stop_recording
delay=$(python3 "$E2E_LIB/delay.py" "$E2E_DIR/bus.raw")
echo "  delay: $delay s"
e2e_check "the tone came out $LINUX_DELAY_TEXT later" linux_delay_ok "$delay"
e2e_check "buttons stay visible over the band" \
    python3 -c "import sys; sys.exit(0 if float('$(e2e_mean "$E2E_DIR/tone.png" $RECORD_LEFT $RECORD_TOP $((RECORD_RIGHT - RECORD_LEFT)) $((RECORD_BOTTOM - RECORD_TOP)))') > 0.5 else 1)"

echo "Stop"
app_stop
sleep 1
e2e_check "Stop closes both streams" test "$(rig_streams)" -eq 0

echo "Record again"
app_record
sleep 1
e2e_check "both streams open again" test "$(rig_streams)" -eq 2
app_stop
sleep 1
e2e_check "and close again" test "$(rig_streams)" -eq 0

echo "Closing the window"
app_close 5
e2e_check "the program exits with 0" test "$APP_STATUS" = 0

echo "No sound server"
APP_ARGS=()
PULSE_SERVER=unix:/nonexistent/socket app_start "$E2E_DIR/app2.log"
app_record
box=$(e2e_window "^Vazozo1$")
e2e_check "the device message box appears" test -n "$box"
import -window root "$E2E_DIR/nodevice.png"
# Ctrl+C copies a message box's title and text, as on Windows.
e2e_key "$box" ctrl+c
copied=$(timeout 5 xclip -o -selection clipboard -t UTF8_STRING 2>/dev/null)
rule=---------------------------
expected=$(printf '%s\n' $rule Vazozo1 $rule \
    "I can't open wave device. Maybe Your SB does not support dual mode." $rule OK $rule)
e2e_check "its title and text are the device message" test "$copied" = "$expected"
e2e_key "$box" Return
app_wait_exit 5
e2e_check "then the program exits with 0" test "$APP_STATUS" = 0

echo "screenshots in $E2E_DIR"
e2e_result "linux e2e"

#!/usr/bin/env bash
# The Linux build as a person uses it: under a virtual display, on a
# private sound server whose source hears a test tone and whose sink is
# recorded, clicked with xdotool.

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# Once on each sound server, unless LARKSPAN_SOUND_SERVER names one.
[ -n "${LARKSPAN_SOUND_SERVER:-}" ] || exec bash "$here/each_server.sh" "$0" "$@"
app=${LARKSPAN_APP:-$here/../build/larkspan}
source "$here/lib.sh"
trap e2e_cleanup EXIT
[ -x "$app" ] || { echo "no program at $app"; exit 1; }

e2e_display || exit 1
e2e_sound_server || exit 1

# Streams of the program on the server: source outputs on mic, sink inputs on spk.
streams() {
    local mic spk
    mic=$(pactl list short sources | awk '$2 == "mic" {print $1}')
    spk=$(pactl list short sinks | awk '$2 == "spk" {print $1}')
    echo $(($(pactl list short source-outputs | awk -v m="$mic" '$2 == m' | wc -l) +
        $(pactl list short sink-inputs | awk -v s="$spk" '$2 == s' | wc -l)))
}

"$app" --anything -x "ignored arguments" >"$E2E_DIR/app.log" 2>&1 &
app_pid=$!
win=$(e2e_window "Larkspan 1.0") || { echo "no window"; cat "$E2E_DIR/app.log"; exit 1; }

echo "Geometry"
eval "$(xdotool getwindowgeometry --shell "$win")"
# Base units from the client size, then every number of the template must follow from them.
bx=$(((WIDTH * 4 + 117) / 235))
by=$(((HEIGHT * 8 + 80) / 160))
echo "  window ${WIDTH}x${HEIGHT} at $X,$Y; base units $bx x $by"
e2e_check "client area is 235 x 160 dialog units" \
    test "$WIDTH" -eq "$(muldiv 235 $bx 4)" -a "$HEIGHT" -eq "$(muldiv 160 $by 8)"
e2e_check "client area at 100, 100 dialog units" test "$X" -eq "$(muldiv 100 $bx 4)" -a "$Y" -eq "$(muldiv 100 $by 8)"
e2e_check "plausible base units" test "$bx" -ge 5 -a "$bx" -le 10 -a "$by" -ge 10 -a "$by" -le 20

# Centres of the buttons, in window pixels.
rec_x=$(muldiv $((7 + 20)) $bx 4) rec_y=$(muldiv $((138 + 7)) $by 8)
stop_x=$(muldiv $((51 + 20)) $bx 4)
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
shot() { import -window "$win" "$E2E_DIR/$1.png"; }

echo "A recording"
e2e_record_bus "$E2E_DIR/bus.raw" 6
click $rec_x $rec_y
sleep 1.5
shot silence
e2e_check "both streams open" test "$(streams)" -eq 2
e2e_check "silence draws a green line on band row 128" test "$(e2e_green "$E2E_DIR/silence.png" 0 128 $WIDTH 1)" -ge $((WIDTH - 2))
e2e_play_tone 0.3 2
sleep 1
shot tone
e2e_check "a tone draws green dots off row 128" test "$(e2e_green "$E2E_DIR/tone.png" 0 0 $WIDTH 120)" -gt 50
sleep 3
delay=$(python3 "$here/delay.py" "$E2E_DIR/bus.raw")
echo "  delay: $delay s"
e2e_check "the tone came out $LINUX_DELAY_TEXT later" linux_delay_ok "$delay"
button_y=$(muldiv 138 $by 8)
e2e_check "buttons stay visible over the band" \
    python3 -c "import sys; sys.exit(0 if float('$(e2e_mean "$E2E_DIR/tone.png" $(muldiv 7 $bx 4) $button_y $(muldiv 40 $bx 4) $(muldiv 14 $by 8))') > 0.5 else 1)"

echo "Stop"
click $stop_x $rec_y
sleep 1
e2e_check "Stop closes both streams" test "$(streams)" -eq 0

echo "Record again"
click $rec_x $rec_y
sleep 1
e2e_check "both streams open again" test "$(streams)" -eq 2
click $stop_x $rec_y
sleep 1
e2e_check "and close again" test "$(streams)" -eq 0

echo "Closing the window"
e2e_key "$win" alt+F4
for _ in $(seq 50); do kill -0 $app_pid 2>/dev/null || break; sleep 0.1; done
wait $app_pid
e2e_check "the program exits with 0" test $? -eq 0

echo "No sound server"
PULSE_SERVER=unix:/nonexistent/socket "$app" >"$E2E_DIR/app2.log" 2>&1 &
app_pid=$!
win=$(e2e_window "Larkspan 1.0")
click $rec_x $rec_y
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
for _ in $(seq 50); do kill -0 $app_pid 2>/dev/null || break; sleep 0.1; done
wait $app_pid
e2e_check "then the program exits with 0" test $? -eq 0

echo "screenshots in $E2E_DIR"
[ $E2E_FAILS -eq 0 ] && echo "linux e2e: all passed" || echo "linux e2e: $E2E_FAILS failed"
exit $((E2E_FAILS > 0))

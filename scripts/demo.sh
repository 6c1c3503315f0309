#!/usr/bin/env bash
# Runs the Linux program headless: a virtual display, a private sound
# server whose input hears a test tone, a click on Record, a screenshot of
# the waveform, then Stop and close. Prints where the screenshot and the
# recording of what went in (left) and came out (right) are.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

LARKSPAN_WITH_WINE=0 bash scripts/deps.sh || exit 1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build build -j"$(nproc)" --target larkspan || exit 1

out=${1:-$root/out/demo}
mkdir -p "$out"
source e2e/lib.sh
trap e2e_cleanup EXIT
e2e_display || exit 1
e2e_sound_server || exit 1

build/larkspan >"$out/larkspan.log" 2>&1 &
app=$!
win=$(e2e_window "Larkspan 1.0") || { echo "the window did not appear"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$win")"
bx=$(((WIDTH * 4 + 117) / 235)) by=$(((HEIGHT * 8 + 80) / 160))
y=$(muldiv 145 $by 8)

e2e_record_bus "$E2E_DIR/bus.raw" 5
xdotool mousemove --window "$win" "$(muldiv 27 $bx 4)" "$y" click 1
e2e_play_tone 0.5 3
sleep 2.5
import -window root "$out/screenshot.png"
sleep 2.5
xdotool mousemove --window "$win" "$(muldiv 71 $bx 4)" "$y" click 1
sleep 0.5
e2e_key "$win" alt+F4
wait $app
status=$?
sox -q -t raw -r 11025 -b 16 -e signed-integer -c 2 "$E2E_DIR/bus.raw" "$out/heard.wav"

echo "Screenshot:               $out/screenshot.png"
echo "Recording (left in, right out): $out/heard.wav"
echo "Delay from input to output:     $(python3 e2e/delay.py "$E2E_DIR/bus.raw") s"
echo "Program exit status:            $status"

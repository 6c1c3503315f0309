#!/usr/bin/env bash
# Runs the Linux program headless: a virtual display, a private sound
# server whose input hears a test tone (PipeWire's where the machine has
# PipeWire, else the PulseAudio daemon), a click on Record, a screenshot
# of the window with the waveform, then Stop and close. Prints where the
# screenshot and the recording of what went in (left) and came out (right)
# are; exits 0 when the tone came out again and the program ended with 0.
#
#   scripts/demo.sh [OUTPUT-FOLDER]      default out/demo

# Everything but the output runs in a private HOME, XDG folders and TMPDIR.
source "$(dirname "$0")/../e2e/lib.sh"
cd "$E2E_ROOT"
out=$(mkdir -p "${1:-out/demo}" && cd "${1:-out/demo}" && pwd) || exit 1

bash scripts/deps.sh build run demo || exit 1
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null || exit 1
cmake --build build -j"$(nproc)" --target larkspan || exit 1

export LARKSPAN_SOUND_SERVER=${LARKSPAN_SOUND_SERVER:-$(bash scripts/deps.sh --demo-server)}
echo "Starting a virtual display and a private $LARKSPAN_SOUND_SERVER sound server"
e2e_open display sound
app_start "$out/larkspan.log" 2>/dev/null || { echo "the window did not appear; see $out/larkspan.log"; exit 1; }

echo "Pressing Record; a 440 Hz tone plays into the input"
e2e_record_bus "$E2E_DIR/bus.raw" 5
app_record
e2e_play_tone 0.5 3
sleep 2.5
# The window alone: with no window manager on the virtual display it is
# the dialog's client area.
import -window "$APP_WIN" "$out/screenshot.png"
sleep 2.5
echo "Pressing Stop and closing the window"
app_stop
sleep 0.5
app_close 30
status=$APP_STATUS
sox -q -t raw -r 11025 -b 16 -e signed-integer -c 2 "$E2E_DIR/bus.raw" "$out/heard.wav"
delay=$(python3 e2e/delay.py "$E2E_DIR/bus.raw")

echo
echo "Screenshot of the window:              $out/screenshot.png"
echo "Recording (left went in, right came out): $out/heard.wav"
echo "Delay from input to output:            $delay s"
echo "Program exit status:                   $status"
[ "$status" -eq 0 ] && [ "$delay" != none ] && [ -s "$out/screenshot.png" ] || { echo "The demo did not work."; exit 1; }
echo "The demo worked."

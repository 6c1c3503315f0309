#!/bin/bash
# The sound loop (2 capture + 2 playback blocks of 2048 bytes, playback primed
# with two blocks of silence) on the PulseAudio backend alone, without the
# wave layer, on a private sound server with virtual devices: a click train
# goes in, the output is recorded, and the delay and lost or repeated blocks
# are printed. LARKSPAN_SOUND_SERVER chooses the server.
#   bench/pulse_loop.sh [--short] [SECONDS]     default 60 s, --short 10 s

source "$(dirname "$0")/lib.sh"
set -e

seconds=60
for arg in "$@"; do
    case "$arg" in
    --short) seconds=10 ;;
    *) seconds=$arg ;;
    esac
done
dir=$(bench_build pulse_loop_bench)
e2e_open sound
echo "server: $LARKSPAN_SOUND_SERVER; load: $(cut -d' ' -f1-3 /proc/loadavg)"
e2e_record_bus "$E2E_DIR/rec.raw"
e2e_play_clicks $((seconds + 3))
sleep 0.5

echo "loop for $seconds s"
"$dir/bench/pulse_loop_bench" loop "$seconds"
sleep 0.8
e2e_stop_recording || true
python3 "$E2E_LIB/clicks.py" analyze "$E2E_DIR/rec.raw" || true

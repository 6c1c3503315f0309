#!/bin/bash
# What the PulseAudio backend costs in wake-ups of its own threads: with no
# stream, with streams open, running and stopped, and after closing them.
# LARKSPAN_SOUND_SERVER chooses the server.

source "$(dirname "$0")/lib.sh"
set -e
dir=$(bench_build pulse_loop_bench)
e2e_open sound
echo "server: $LARKSPAN_SOUND_SERVER; load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$dir/bench/pulse_loop_bench" idle

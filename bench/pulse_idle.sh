#!/bin/bash
# What the PulseAudio backend costs in wake-ups of its own threads: with no
# stream, with streams open, running and stopped, and after closing them.

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-pulse-idle.XXXXXX")
trap '"$root/e2e/sound_rig.sh" stop "$work/rig" || true; rm -rf "$work"' EXIT
g++ -O2 -std=c++17 -Wall -Wextra -pthread -I"$root/port" -I"$root/port/include" -I"$root/port/pulse" \
    "$root/tests/pulse/pulse_loop_bench.cpp" "$root/port/pulse/pulse_audio.cpp" \
    $(pkg-config --cflags --libs libpulse) -o "$work/bench"
eval "$("$root/e2e/sound_rig.sh" start "$work/rig")"
"$work/bench" idle

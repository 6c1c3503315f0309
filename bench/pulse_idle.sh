#!/bin/bash
# What the PulseAudio backend costs in wake-ups of its own threads: with no
# stream, with streams open, running and stopped, and after closing them.
# LARKSPAN_SOUND_SERVER chooses the server.

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-pulse-idle.XXXXXX")
trap '"$root/e2e/sound_rig.sh" stop "$work/rig" || true; rm -rf "$work"' EXIT
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build-bench" --target pulse_loop_bench -j2 >/dev/null
eval "$("$root/e2e/sound_rig.sh" start "$work/rig")"
echo "server: $LARKSPAN_SOUND_SERVER; load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$root/build-bench/bench/pulse_loop_bench" idle

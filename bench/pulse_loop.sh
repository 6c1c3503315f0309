#!/bin/bash
# The sound loop (2 capture + 2 playback blocks of 2048 bytes, playback primed
# with two blocks of silence) on the PulseAudio backend alone, without the
# wave layer, on a private sound server with virtual devices: a click train
# goes in, the output is recorded, and the delay and lost or repeated blocks
# are printed. LARKSPAN_SOUND_SERVER chooses the server.
#   bench/pulse_loop.sh [--short] [SECONDS]     default 60 s, --short 10 s

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
set -euo pipefail

seconds=60
for arg in "$@"; do
    case "$arg" in
    --short) seconds=10 ;;
    *) seconds=$arg ;;
    esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-pulse-bench.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    "$root/e2e/sound_rig.sh" stop "$work/rig" || true
    rm -rf "$work"
}
trap cleanup EXIT

cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build-bench" --target pulse_loop_bench -j2 >/dev/null

eval "$("$root/e2e/sound_rig.sh" start "$work/rig")"
echo "server: $LARKSPAN_SOUND_SERVER; load: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$root/e2e/clicks.py" make $((seconds + 3)) "$work/clicks.raw"
parec -d bus.monitor --raw --format=s16le --rate=11025 --channels=2 --latency-msec=5 >"$work/rec.raw" &
pids+=($!)
pacat -d bus --raw --format=s16le --rate=11025 --channels=2 --latency-msec=200 "$work/clicks.raw" &
pids+=($!)
sleep 0.5

echo "loop for $seconds s"
"$root/build-bench/bench/pulse_loop_bench" loop "$seconds"
sleep 0.8
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
python3 "$root/e2e/clicks.py" analyze "$work/rec.raw" || true

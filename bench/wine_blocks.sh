#!/usr/bin/env bash
# Lost and doubled blocks of the Windows build under Wine over a long run,
# and the phase between its capture and playback completions. Noise goes
# into the rig's source for the whole run while the bus is recorded; Wine
# traces every wave call with a timestamp (WINEDEBUG=+timestamp,+winmm).
# bench/wine_blocks.py reads both: from the sound, where the delay steps by
# a block; from the trace, how many capture completions fall between two
# playback completions. The machine's load is sampled every 10 s.
#
#   bench/wine_blocks.sh [--short] [SECONDS]     default 600 s; --short: 30 s
#   LARKSPAN_WINE_TRACE=0: no trace, the sound alone

source "$(dirname "$0")/lib.sh"
seconds=$(bench_seconds 600 30 "$@")

bench_deps
exe=$(bench_windows_exe) || exit 1
bench_machine
note "$seconds s of the Windows build under Wine: $exe"
e2e_open display sound
note "sound server: $LARKSPAN_SOUND_SERVER"
wine_boot >&2 || exit 1
[ "${LARKSPAN_WINE_TRACE:-1}" = 1 ] && export WINEDEBUG=+timestamp,+winmm

python3 "$BENCH_ROOT/bench/wine_blocks.py" noise 2>/dev/null | "${E2E_PACAT[@]}" --latency-msec=10 &
E2E_PIDS+=($!)

bench_start_wine "$exe" || exit 1
e2e_record_bus "$E2E_DIR/bus.raw"
app_record
bench_wait_streams || { note "the Windows build did not start recording"; exit 1; }

loads=()
end=$(($(date +%s) + seconds))
while [ "$(date +%s)" -lt "$end" ]; do
    loads+=("$(cut -d' ' -f1 /proc/loadavg)")
    sleep 10
done
app_stop
sleep 1
e2e_stop_recording
bench_stop_app

figure load_min "$(printf '%s\n' "${loads[@]}" | sort -g | head -1)" load
figure load_median "$(median "${loads[@]}")" load
figure load_max "$(printf '%s\n' "${loads[@]}" | sort -g | tail -1)" load
# The sound is compared byte for byte, which only the PulseAudio daemon's
# rig keeps; PipeWire carries it through its 48 kHz graph.
if [ "$LARKSPAN_SOUND_SERVER" = pipewire ]; then
    note "the sound measure needs the PulseAudio daemon's byte-exact rig; on PipeWire only the trace is measured"
else
    python3 "$BENCH_ROOT/bench/wine_blocks.py" sound "$E2E_DIR/bus.raw" | sed 's/^\([a-z]\)/wine.\1/'
fi
if [ "${LARKSPAN_WINE_TRACE:-1}" = 1 ]; then
    python3 "$BENCH_ROOT/bench/wine_blocks.py" trace "$E2E_DIR/wine.log" | sed 's/^\([a-z]\)/wine.\1/'
fi
note "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# Delay of the pass-through, click by click: a click a second goes into the
# rig's default source for 60 s while the bus is recorded (left: in, right:
# out). Measured for the Linux build, the Windows build under Wine, and
# parec | pacat in the program's format. The loop itself makes 2 to 3 blocks
# of delay (371.5 to 557.3 ms); what is over 2 blocks is the layer's share.
#
#   bench/delay.sh [--short]      60 clicks each; --short: 4
# LARKSPAN_SOUND_SERVER chooses the sound server (e2e/each_server.sh runs it
# on each).

source "$(dirname "$0")/lib.sh"
count=60
[ "${1:-}" = --short ] && count=4

bench_deps
app=$(bench_linux_app) || exit 1
exe=$(bench_windows_exe) || exit 1
bench_machine
note "$count clicks each"
e2e_open display sound
note "sound server: $LARKSPAN_SOUND_SERVER"
python3 "$BENCH_ROOT/bench/click_delays.py" make "$count" >"$E2E_DIR/clicks.raw"

# Plays the click train into the bus while recording it, then prints the figures.
measure() {  # name [blocks]
    e2e_record_bus "$E2E_DIR/$1.raw"
    sleep 0.3
    "${E2E_PACAT[@]}" --latency-msec=200 "$E2E_DIR/clicks.raw"
    sleep 0.5
    e2e_stop_recording
    python3 "$BENCH_ROOT/bench/click_delays.py" analyze "$E2E_DIR/$1.raw" "$@"
}

status=0
note "Linux build: $app"
if bench_start_linux "$app" && app_record && bench_wait_streams; then
    note "window ${WIDTH}x$HEIGHT, base units $DLG_BX x $DLG_BY"
    sleep 2
    measure linux blocks
else
    note "the Linux build did not start recording"
    status=1
fi
bench_stop_app

note "Windows build under Wine: $exe"
if wine_boot >&2 && bench_start_wine "$exe" && app_record && bench_wait_streams; then
    note "window ${WIDTH}x$HEIGHT, base units $DLG_BX x $DLG_BY"
    sleep 2
    measure wine blocks
else
    note "the Windows build did not start recording under Wine"
    status=1
fi
bench_stop_app

note "parec | pacat, u8 mono 11025 Hz, --latency-msec=186 on both"
bench_start_pipeline
sleep 2
measure pipeline
bench_stop_pipeline
note "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status

#!/usr/bin/env bash
# CPU time of a minute of pass-through: user plus system seconds from
# /proc/<pid>/stat, taken over a run while the loop runs. Measured for the
# Linux build (its process), the Windows build under Wine (the exe's process
# tree plus the prefix's wineserver) and parec | pacat (both processes), in
# turn, three runs of each; medians, and the ratios to the pipeline. The
# sound server's own time in each run is printed for comparison. A 440 Hz
# tone plays into the source throughout, so the waveform moves as it is drawn.
#
#   bench/cpu.sh [--short] [--no-wine] [RUNS [SECONDS]]
#       default 3 runs of 60 s; --short: 1 run of 5 s; --no-wine: the Linux
#       build and the pipeline only
# LARKSPAN_SOUND_SERVER chooses the sound server (e2e/each_server.sh runs it
# on each).

source "$(dirname "$0")/lib.sh"
runs=3
seconds=60
wine=1
while [ "${1:-}" = --short ] || [ "${1:-}" = --no-wine ]; do
    if [ "$1" = --short ]; then
        runs=1
        seconds=5
    else
        wine=0
    fi
    shift
done
runs=${1:-$runs}
seconds=${2:-$seconds}

bench_deps
app=$(bench_linux_app) || exit 1
if [ $wine = 1 ]; then exe=$(bench_windows_exe) || exit 1; fi
bench_machine
note "$runs runs of $seconds s each; clock tick $((1000 / CLK_TCK)) ms"
e2e_open display sound
note "sound server: $LARKSPAN_SOUND_SERVER"
e2e_play_tone 0 36000
if [ $wine = 1 ]; then wine_boot >&2 || exit 1; fi

# CPU seconds per minute from ticks over elapsed seconds.
per_minute() { python3 -c "import sys; t, s, hz = map(float, sys.argv[1:]); print('%.3f' % (t / hz * 60 / s))" "$1" "$2" "$CLK_TCK"; }

declare -A results
now() { date +%s.%N; }
# CPU ticks of the processes a function lists at the start and at the end
# of the run; those that came up meanwhile count whole.
ticks_start() {  # list-function; sets START_SET and START_TICKS
    START_SET=$($1 | sort -u)
    START_TICKS=$(bench_ticks $START_SET)
}
ticks_end() {  # list-function; the ticks since ticks_start
    echo $(($(bench_ticks $(printf '%s\n' $START_SET $($1) | sort -u)) - START_TICKS))
}

# Measures the processes a function lists over one run; a second function
# gives a second, wider set under another name.
measure() {  # name list-function [name2 list-function2]
    local name=$1 list=$2 name2=${3:-} list2=${4:-}
    local t0 t1 a0 a1 b0 b1 s0 s1 sw0 sw1 set_a set_b elapsed
    sleep 2
    t0=$(now)
    ticks_start "$list"
    a0=$START_TICKS set_a=$START_SET
    if [ -n "$name2" ]; then
        ticks_start "$list2"
        b0=$START_TICKS set_b=$START_SET
    fi
    s0=$(bench_ticks "$PULSE_RIG_PID")
    sw0=$(bench_switches "${set_a%%$'\n'*}")
    sleep "$seconds"
    sw1=$(bench_switches "${set_a%%$'\n'*}")
    s1=$(bench_ticks "$PULSE_RIG_PID")
    START_SET=$set_a START_TICKS=$a0
    a1=$(ticks_end "$list")
    if [ -n "$name2" ]; then
        START_SET=$set_b START_TICKS=$b0
        b1=$(ticks_end "$list2")
    fi
    t1=$(now)
    elapsed=$(python3 -c "print('%.3f' % ($t1 - $t0))")
    results[$name]+=" $(per_minute "$a1" "$elapsed")"
    results[$name.server]+=" $(per_minute $((s1 - s0)) "$elapsed")"
    [ "$name" = linux ] && results[$name.switches]+=" $(python3 -c "print('%.1f' % (($sw1 - $sw0) / $elapsed))")"
    [ -n "$name2" ] && results[$name2]+=" $(per_minute "$b1" "$elapsed")"
    note "run $run $name: $(per_minute "$a1" "$elapsed") s/min over $elapsed s (pids $(echo $set_a))" \
        "${name2:+$name2: $(per_minute "$b1" "$elapsed") s/min}, load $(cut -d' ' -f1 /proc/loadavg)"
}

linux_pids() { echo "$APP_PID"; }
wine_pids() { bench_tree "$APP_PID"; bench_wineserver; }
pipeline_pids() { printf '%s\n' "$PIPE_REC" "$PIPE_PLAY"; }

status=0
for run in $(seq "$runs"); do
    if bench_start_linux "$app" && app_record && bench_wait_streams; then
        measure linux linux_pids
    else
        note "the Linux build did not start recording"
        status=1
    fi
    bench_stop_app

    bench_start_pipeline
    measure pipeline pipeline_pids
    bench_stop_pipeline

    [ $wine = 1 ] || continue
    if bench_start_wine "$exe" && app_record && bench_wait_streams; then
        measure wine wine_pids wine_prefix bench_wine_all
    else
        note "the Windows build did not start recording under Wine"
        status=1
    fi
    bench_stop_app
done

for name in linux pipeline wine; do
    [ -n "${results[$name]:-}" ] || continue
    figure "cpu.$name.per_minute" "$(median ${results[$name]})" s/min
    figure "cpu.$name.server_per_minute" "$(median ${results[$name.server]})" s/min
done
[ -n "${results[wine_prefix]:-}" ] && figure cpu.wine_prefix.per_minute "$(median ${results[wine_prefix]})" s/min
[ -n "${results[linux.switches]:-}" ] && figure cpu.linux.running_switches "$(median ${results[linux.switches]})" 1/s
if [ -n "${results[linux]:-}" ] && [ -n "${results[pipeline]:-}" ]; then
    figure cpu.linux_to_pipeline "$(ratio "$(median ${results[linux]})" "$(median ${results[pipeline]})")" x
fi
if [ -n "${results[wine]:-}" ] && [ -n "${results[pipeline]:-}" ]; then
    figure cpu.wine_to_pipeline "$(ratio "$(median ${results[wine]})" "$(median ${results[pipeline]})")" x
fi
note "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status

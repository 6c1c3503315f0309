#!/usr/bin/env bash
# CPU time and wake-ups of a minute of pass-through. CPU is the scheduler's
# count for every thread (bench_cpu); wake-ups are the context switches of
# every thread, voluntary and involuntary, from /proc/<pid>/task/*/status,
# per second. Measured over a run while the loop runs, in turn: the Linux build
# (its process, and each of its threads), the Windows build under Wine (the
# exe's process tree plus the prefix's wineserver), parec | pacat (both
# processes) and, on PipeWire, pw-loopback (the platform's own loop); three
# runs of each; medians, and the ratios to the pipeline. The sound server's
# own time in each run is printed for comparison. A 440 Hz tone plays into
# the source throughout, so the waveform moves as it is drawn.
#
#   bench/cpu.sh [--short] [--no-wine] [--desktop] [RUNS [SECONDS]]
#       default 3 runs of 60 s; --short: 1 run of 5 s; --no-wine: the Linux
#       build and the pipelines only; --desktop: the rig as a desktop has it,
#       with no low-latency recorder keeping the PulseAudio daemon's bus
#       going (LARKSPAN_RIG_KEEPER=0) and the tone fed with a roomy buffer,
#       so the bus runs at the pace the measured clients ask for
# LARKSPAN_SOUND_SERVER chooses the sound server (e2e/each_server.sh runs it
# on each).

source "$(dirname "$0")/lib.sh"
runs=3
seconds=60
wine=1
tone_latency=10
while [[ "${1:-}" == --* ]]; do
    case $1 in
    --short) runs=1 seconds=5 ;;
    --no-wine) wine=0 ;;
    --desktop) export LARKSPAN_RIG_KEEPER=0 && tone_latency=200 ;;
    *) echo "usage: $0 [--short] [--no-wine] [--desktop] [RUNS [SECONDS]]" >&2 && exit 2 ;;
    esac
    shift
done
runs=${1:-$runs}
seconds=${2:-$seconds}

bench_deps
app=$(bench_linux_app) || exit 1
if [ $wine = 1 ]; then exe=$(bench_windows_exe) || exit 1; fi
bench_machine
note "$runs runs of $seconds s each"
e2e_open display sound
note "sound server: $LARKSPAN_SOUND_SERVER, ${LARKSPAN_RIG_KEEPER:+no }keeper recorder, tone fed at $tone_latency ms"
sox -q -D -n -r 11025 -b 16 -e signed-integer -c 2 -t raw - synth 36000 sine 440 gain -6 remix 1 0 |
    "${E2E_PACAT[@]}" --latency-msec=$tone_latency &
E2E_PIDS+=($!)
if [ $wine = 1 ]; then wine_boot >&2 || exit 1; fi

# A per-second or per-minute figure from a count over elapsed seconds.
per_second() { python3 -c "import sys; n, s = map(float, sys.argv[1:]); print('%.1f' % (n / s))" "$1" "$2"; }
per_minute() { python3 -c "import sys; t, s = map(float, sys.argv[1:]); print('%.3f' % (t * 60 / s))" "$1" "$2"; }

declare -A results
now() { date +%s.%N; }
# CPU of the processes a function lists at the start and at the end of the
# run; those that came up meanwhile count whole.
cpu_start() {  # list-function; sets START_SET and START_CPU
    START_SET=$($1 | sort -u)
    START_CPU=$(bench_cpu $START_SET)
}
cpu_end() {  # list-function; the seconds since cpu_start
    bench_cpu_seconds "$START_CPU" "$(bench_cpu $(printf '%s\n' $START_SET $($1) | sort -u))"
}

# Measures the processes a function lists over one run; a second function
# gives a second, wider set under another name. The first set's wake-ups
# are counted too, in all and thread by thread (by the threads' names).
measure() {  # name list-function [name2 list-function2]
    local name=$1 list=$2 name2=${3:-} list2=${4:-}
    local t0 t1 a1 b0 b1 s0 s1 set_a set_b elapsed threads0 threads1 wakes thread count
    sleep 2
    t0=$(now)
    cpu_start "$list"
    set_a=$START_SET a0=$START_CPU
    if [ -n "$name2" ]; then
        cpu_start "$list2"
        b0=$START_CPU set_b=$START_SET
    fi
    s0=$(bench_cpu "$PULSE_RIG_PID")
    threads0=$(bench_thread_switches $set_a)
    sleep "$seconds"
    threads1=$(bench_thread_switches $set_a)
    s1=$(bench_cpu "$PULSE_RIG_PID")
    START_SET=$set_a START_CPU=$a0
    a1=$(cpu_end "$list")
    if [ -n "$name2" ]; then
        START_SET=$set_b START_CPU=$b0
        b1=$(cpu_end "$list2")
    fi
    t1=$(now)
    elapsed=$(python3 -c "print('%.3f' % ($t1 - $t0))")
    # Threads that lived through the run, by name: tid name count.
    local by_thread
    by_thread=$(join <(sort <<<"$threads0") <(sort <<<"$threads1") |
        awk '$2 == $4 {n[$2] += $5 - $3; all += $5 - $3} END {for (t in n) print t, n[t]; print "(all)", all + 0}')
    wakes=$(per_second "$(awk '$1 == "(all)" {print $2}' <<<"$by_thread")" "$elapsed")
    results[$name]+=" $(per_minute "$a1" "$elapsed")"
    results[$name.wakeups]+=" $wakes"
    results[$name.server]+=" $(per_minute "$(bench_cpu_seconds "$s0" "$s1")" "$elapsed")"
    [ -n "$name2" ] && results[$name2]+=" $(per_minute "$b1" "$elapsed")"
    local per_thread=""
    while read -r thread count; do
        [ "$thread" = "(all)" ] && continue
        per_thread+=" $thread $(per_second "$count" "$elapsed")/s,"
        [ "$name" = linux ] && results[linux.thread.$thread]+=" $(per_second "$count" "$elapsed")"
    done <<<"$by_thread"
    note "run $run $name: $(per_minute "$a1" "$elapsed") s/min, $wakes wake-ups/s over $elapsed s" \
        "(pids $(echo $set_a); threads:${per_thread%,})" \
        "${name2:+$name2: $(per_minute "$b1" "$elapsed") s/min}, load $(cut -d' ' -f1 /proc/loadavg)"
}

linux_pids() { echo "$APP_PID"; }
wine_pids() { bench_tree "$APP_PID"; bench_wineserver; }
pipeline_pids() { printf '%s\n' "$PIPE_REC" "$PIPE_PLAY"; }
loopback_pids() { echo "$LOOPBACK"; }

# PipeWire's own loop from the rig's source to its sink, in one process.
start_loopback() {
    PIPEWIRE_RUNTIME_DIR=$PULSE_RIG_DIR/run pw-loopback -C mic -P spk -c 1 -m '[ MONO ]' -l 186 \
        >"$E2E_DIR/loopback.log" 2>&1 &
    LOOPBACK=$!
    E2E_PIDS+=("$LOOPBACK")
}
stop_loopback() {
    kill "$LOOPBACK" 2>/dev/null || true
    wait "$LOOPBACK" 2>/dev/null || true
}

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

    if [ "$LARKSPAN_SOUND_SERVER" = pipewire ] && command -v pw-loopback >/dev/null; then
        start_loopback
        measure loopback loopback_pids
        stop_loopback
    fi

    [ $wine = 1 ] || continue
    if bench_start_wine "$exe" && app_record && bench_wait_streams; then
        measure wine wine_pids wine_prefix bench_wine_all
    else
        note "the Windows build did not start recording under Wine"
        status=1
    fi
    bench_stop_app
done

for name in linux pipeline loopback wine; do
    [ -n "${results[$name]:-}" ] || continue
    figure "cpu.$name.per_minute" "$(median ${results[$name]})" s/min
    figure "cpu.$name.wakeups" "$(median ${results[$name.wakeups]})" 1/s
    figure "cpu.$name.server_per_minute" "$(median ${results[$name.server]})" s/min
done
for key in "${!results[@]}"; do
    [[ $key == linux.thread.* ]] || continue
    # Thread names may hold what a figure's name cannot.
    figure "cpu.linux.thread.$(tr -c 'a-zA-Z0-9_\n' _ <<<"${key#linux.thread.}" | tr A-Z a-z).wakeups" \
        "$(median ${results[$key]})" 1/s
done
[ -n "${results[wine_prefix]:-}" ] && figure cpu.wine_prefix.per_minute "$(median ${results[wine_prefix]})" s/min
if [ -n "${results[pipeline]:-}" ]; then
    for name in linux loopback wine; do
        [ -n "${results[$name]:-}" ] || continue
        figure "cpu.${name}_to_pipeline" "$(ratio "$(median ${results[$name]})" "$(median ${results[pipeline]})")" x
        figure "cpu.${name}_wakeups_to_pipeline" \
            "$(ratio "$(median ${results[$name.wakeups]})" "$(median ${results[pipeline.wakeups]})")" x
    done
fi
note "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status

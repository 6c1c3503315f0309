#!/usr/bin/env bash
# The Linux build's pass-through, measured on one server, with or without a
# load on the machine: a click train (e2e/clicks.py, a click every 40 ms, so
# every block is checked) goes into the rig's source for SECONDS while the
# bus is recorded. Prints the delay, the blocks lost or played twice, other
# moves of the sound, and the program's CPU time and wake-ups while it runs.
#
#   bench/loop.sh [--short] [--load none|busy|build] [--timeline] [--keep DIR] [--pipeline] [SECONDS]
#                                     default none, 60 s; --short: 10 s
#
# LARKSPAN_SOUND_SERVER chooses the server, LARKSPAN_APP the program.
# --load busy: two processes that spin; build: a C++ build with -j2, over
# and over (bench/load.sh). --timeline: the program writes its sound
# timeline and bench/timeline_report.py's verdict is printed too (the
# timeline costs CPU time: leave it out of CPU figures). --keep: the
# recording, the timeline and the program's output go to DIR. --pipeline:
# parec | pacat in the program's format instead of the program, for what
# the server and the rig do to a stream of their own under the same load.

source "$(dirname "$0")/lib.sh"
load=none timeline=0 keep= pipeline=0 seconds=60
while [ $# -gt 0 ]; do
    case "$1" in
    --load)
        load=$2
        shift
        ;;
    --timeline) timeline=1 ;;
    --short) seconds=10 ;;
    --pipeline) pipeline=1 ;;
    --keep)
        keep=$2
        shift
        ;;
    *) seconds=$1 ;;
    esac
    shift
done
source "$BENCH_ROOT/bench/load.sh"
trap 'load_stop; e2e_cleanup' EXIT

bench_deps
APP=$(bench_linux_app) || exit 1
bench_machine
e2e_open display sound
note "server: $LARKSPAN_SOUND_SERVER; $([ $pipeline = 1 ] && echo "parec | pacat" || echo "program: $APP"); load: $load; $seconds s"
load_start "$load" || exit 1
sleep 5
load_start_avg=$(cut -d' ' -f1 /proc/loadavg)

if [ $pipeline = 0 ]; then
    [ $timeline = 1 ] && export LARKSPAN_SOUND_TIMELINE=$E2E_DIR/timeline.txt
    app_start "$E2E_DIR/app.log" || exit 1
    unset LARKSPAN_SOUND_TIMELINE
fi
e2e_record_bus "$E2E_DIR/bus.raw" $((seconds + 7))
e2e_play_clicks $((seconds + 2))
sleep 0.5
if [ $pipeline = 0 ]; then
    app_record
    app_wait_streams 3 10 || { note "Record did not open both streams"; exit 1; }
    pids=$APP_PID
else
    bench_start_pipeline
    pids="$PIPE_REC $PIPE_PLAY"
fi
switches() {  # all threads of the measured processes
    local p n=0
    for p in $pids; do n=$((n + $(bench_switches "$p"))); done
    echo $n
}
sleep 2
# shellcheck disable=SC2086 # a list of pids
cpu0=$(bench_cpu $pids) switches0=$(switches) t0=$(date +%s.%N)
sleep "$seconds"
# shellcheck disable=SC2086
cpu1=$(bench_cpu $pids) switches1=$(switches) t1=$(date +%s.%N)
load_end_avg=$(cut -d' ' -f1 /proc/loadavg)
if [ $pipeline = 0 ]; then
    app_stop
    app_wait_buttons idle 5
else
    bench_stop_pipeline
fi
load_stop
sleep 6
[ $pipeline = 0 ] && app_close 10

python3 "$BENCH_ROOT/e2e/clicks.py" analyze "$E2E_DIR/bus.raw" | sed 's/^/# /'
python3 "$BENCH_ROOT/e2e/clicks.py" figures "$E2E_DIR/bus.raw" | while read -r name value; do
    case $name in
    delay_*) figure "loop.$name" "$value" ms ;;
    *) figure "loop.$name" "$value" count ;;
    esac
done
elapsed=$(python3 -c "print($t1 - $t0)")
figure loop.cpu_per_minute "$(python3 -c "print('%.3f' % ($(bench_cpu_seconds "$cpu0" "$cpu1") * 60 / $elapsed))")" s/min
figure loop.wakeups "$(python3 -c "print('%.1f' % (($switches1 - $switches0) / $elapsed))")" 1/s
note "load (1 min) at start $load_start_avg, at end $load_end_avg"
if [ $timeline = 1 ]; then
    python3 "$BENCH_ROOT/bench/timeline_report.py" "$E2E_DIR/timeline.txt" | grep -v '^ ' | grep . | sed 's/^/# /'
    figure loop.timeline_refill_faults "$(python3 "$BENCH_ROOT/bench/timeline_report.py" "$E2E_DIR/timeline.txt" |
        awk '/^refills with/ {print $NF}')" count
fi
if [ -n "$keep" ]; then
    mkdir -p "$keep"
    cp "$E2E_DIR/bus.raw" "$E2E_DIR/app.log" "$keep/"
    [ $timeline = 1 ] && cp "$E2E_DIR/timeline.txt" "$keep/"
fi
exit 0

#!/usr/bin/env bash
# What the Linux build costs while nobody records: CPU seconds (bench_cpu)
# and wake-ups (voluntary plus nonvoluntary context switches of all its
# threads, /proc/<pid>/task/*/status) over 60 s with the window open, first
# as started, then again after one Record and Stop.
#
#   bench/idle.sh [--short] [SECONDS]     default 60 s; --short: 5 s

source "$(dirname "$0")/lib.sh"
seconds=$(bench_seconds 60 5 "$@")

bench_deps
app=$(bench_linux_app) || exit 1
bench_machine
e2e_open display sound

# Sums switches over threads alive at both ends; one that came or went in
# between would count its whole life or be lost, so the thread count is printed.
measure() {  # name
    local t0 t1 c0 c1 w0 w1 elapsed
    sleep 3
    t0=$(date +%s.%N)
    c0=$(bench_cpu "$APP_PID")
    w0=$(bench_switches "$APP_PID")
    local threads0
    threads0=$(bench_threads "$APP_PID")
    sleep "$seconds"
    c1=$(bench_cpu "$APP_PID")
    w1=$(bench_switches "$APP_PID")
    t1=$(date +%s.%N)
    elapsed=$(python3 -c "print($t1 - $t0)")
    python3 - "$1" "$(bench_cpu_seconds "$c0" "$c1")" "$((w1 - w0))" "$elapsed" <<'PY'
import sys
name, cpu, switches, elapsed = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
print('idle.%s.cpu_per_minute %.4f s/min' % (name, cpu * 60 / elapsed))
print('idle.%s.wakeups %.2f 1/s' % (name, switches / elapsed))
print('idle.%s.switches %d count' % (name, switches))
PY
    figure "idle.$1.threads" "$(bench_threads "$APP_PID")" count
    [ "$threads0" = "$(bench_threads "$APP_PID")" ] || note "thread count changed from $threads0 during the run"
}

bench_start_linux "$app" || exit 1
note "window ${WIDTH}x$HEIGHT; ${seconds} s each"
measure started
app_record
bench_wait_streams || { note "Record did not open the streams"; exit 1; }
sleep 2
app_stop
for _ in $(seq 50); do [ "$(rig_streams)" = 0 ] && break; sleep 0.1; done
measure after_record
note "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

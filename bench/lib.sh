# Shared by the bench scripts, after e2e/lib.sh (source this first thing,
# as that one): the builds they measure, the Linux and Windows programs
# started and recording, the parec | pacat pipeline, and CPU and context
# switch counts from /proc.
#
# Figures go to stdout as plain "name value unit" lines; everything else a
# script says starts with "# ".
E2E_REMOVE_DIR=1
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib.sh"
source "$E2E_LIB/wine_lib.sh"
BENCH_ROOT=$E2E_ROOT

BLOCK_MS=185.760  # 2048 samples at 11025 Hz

note() { echo "# $*"; }
figure() { printf '%s %s %s\n' "$1" "$2" "$3"; }  # name value unit

bench_deps() {
    bash "$BENCH_ROOT/scripts/deps.sh" build run demo test wine | sed 's/^/# /'
}

# The length of a run in seconds: SECONDS from the command line, `short`
# with --short, else `long`.
bench_seconds() {  # long short [--short] [SECONDS]
    local s=$1
    [ "${3:-}" = --short ] && s=$2 && shift
    echo "${3:-$s}"
}

# A target of the Linux build in build-bench/, or in the tree that
# LARKSPAN_BENCH_BUILD names (scripts/test.sh's plain one, built as it is
# configured); prints the folder.
bench_build() {  # target
    local dir=${LARKSPAN_BENCH_BUILD:-$BENCH_ROOT/build-bench}
    if [ -z "${LARKSPAN_BENCH_BUILD:-}" ]; then
        cmake -S "$BENCH_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null || return 1
    fi
    cmake --build "$dir" --target "$1" -j"$(nproc)" >/dev/null && echo "$dir"
}

# The Linux program, built into build-bench/ unless LARKSPAN_APP names one.
bench_linux_app() {
    if [ -n "${LARKSPAN_APP:-}" ]; then
        echo "$LARKSPAN_APP"
        return
    fi
    echo "$(bench_build larkspan)/larkspan"
}

# The Windows program, built into build-bench-win/ unless LARKSPAN_EXE names one.
bench_windows_exe() {
    if [ -n "${LARKSPAN_EXE:-}" ]; then
        echo "$LARKSPAN_EXE"
        return
    fi
    local dir=$BENCH_ROOT/build-bench-win
    cmake -S "$BENCH_ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$BENCH_ROOT/cmake/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$dir" --target larkspan -j"$(nproc)" >/dev/null
    echo "$dir/larkspan.exe"
}

# Waits up to 10 s for the program's two streams; clicks Record again if
# the first click came before the window took input.
bench_wait_streams() {
    local i
    for i in $(seq 100); do
        [ "$(rig_streams)" -ge 2 ] && return 0
        [ "$i" = 40 ] && app_record
        sleep 0.1
    done
    bench_say_why
    return 1
}

# What the machine showed when the program did not start recording: the
# streams on the server, the windows on the display, the program's log.
bench_say_why() {
    note "window $APP_WIN ${WIDTH}x$HEIGHT, Record clicked at $RECORD_X,$RECORD_Y; process $APP_PID" \
        "$(kill -0 "$APP_PID" 2>/dev/null && echo runs || echo "has ended")"
    note "streams (device, client, driver, format):" \
        "$({ pactl list short source-outputs; pactl list short sink-inputs; } | cut -f2- | tr '\t' ' ' | paste -sd ';')"
    note "default source $(pactl get-default-source), sink $(pactl get-default-sink)"
    local w
    for w in $(xdotool search --name . 2>/dev/null); do
        note "X window $w \"$(xdotool getwindowname "$w" 2>/dev/null)\"" \
            "$(xwininfo -id "$w" 2>/dev/null | awk '/Map State|geometry/ {printf "%s ", $NF}')"
    done
    tail -20 "$E2E_DIR"/*.log 2>/dev/null | sed 's/^/# | /'
}

# Starts the program, as app_start; Wine's X window is the client area
# alone (wine_boot, no Decorated=N), so the buttons are clicked at client
# coordinates as on Linux.
bench_start_linux() { APP=$1 && app_start "$E2E_DIR/app.log"; }  # app
bench_start_wine() { APP=$1 && app_start "$E2E_DIR/wine.log" "$WINE"; }  # exe

bench_stop_app() {
    kill "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
}

# parec | pacat in the program's format, through a FIFO so both have a pid.
bench_start_pipeline() {
    rm -f "$E2E_DIR/pipe"
    mkfifo "$E2E_DIR/pipe"
    local format=(--raw --format=u8 --channels=1 --rate=11025 --latency-msec=186)
    pacat "${format[@]}" <"$E2E_DIR/pipe" &
    PIPE_PLAY=$!
    parec "${format[@]}" >"$E2E_DIR/pipe" &
    PIPE_REC=$!
    E2E_PIDS+=("$PIPE_PLAY" "$PIPE_REC")
}

# The recorder first: a player gone before it would leave it writing into
# a pipe with no reader ("write() failed: Broken pipe").
bench_stop_pipeline() {
    kill "$PIPE_REC" 2>/dev/null || true
    wait "$PIPE_REC" 2>/dev/null || true
    kill "$PIPE_PLAY" 2>/dev/null || true
    wait "$PIPE_PLAY" 2>/dev/null || true
}

# A process and all its descendants.
bench_tree() {  # pid
    local p
    echo "$1"
    for p in $(pgrep -P "$1"); do bench_tree "$p"; done
}

# Processes of our Wine prefix, found by their environment: other Wine
# prefixes may be running on the machine.
bench_in_prefix() {  # pid...
    local p
    for p in "$@"; do
        grep -qx "WINEPREFIX=$WINEPREFIX" < <(tr '\0' '\n' 2>/dev/null <"/proc/$p/environ") && echo "$p"
    done
    return 0
}
bench_wineserver() { bench_in_prefix $(pgrep -x 'wineserver(64)?'); }
# Every process of the prefix: the exe, wineserver, services, explorer, ...
bench_wine_all() { bench_in_prefix $(ls /proc | grep '^[0-9]*$'); }

# CPU time of every thread of processes, as "tid nanoseconds" lines: the
# scheduler's own count (/proc/PID/task/TID/schedstat). /proc/PID/stat
# counts 10 ms ticks, a dozen in a run of 30 s for the program.
bench_cpu() {  # pid...
    local p
    for p in "$@"; do
        awk '{n = split(FILENAME, part, "/"); print part[n - 1], $1}' /proc/"$p"/task/*/schedstat 2>/dev/null
    done
    return 0
}

# Seconds of CPU between two bench_cpu readings: a thread in both counts the
# difference, one that came meanwhile its whole time (one that ended
# meanwhile loses what it ran since the first).
bench_cpu_seconds() {  # first second
    join -a2 -e0 -o 0,1.2,2.2 <(sort <<<"$1") <(sort <<<"$2") | awk '{n += $3 - $2} END {printf "%.4f\n", n / 1e9}'
}

# Voluntary plus nonvoluntary context switches of all threads of a process.
bench_switches() {  # pid
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(non)?voluntary_ctxt_switches:/ {n += $2} END {print n + 0}'
}

# The same, thread by thread: "tid name count" lines for the threads of
# the processes, the name with blanks made underscores.
bench_thread_switches() {  # pid...
    local p t name
    for p in "$@"; do
        for t in /proc/"$p"/task/*; do
            name=$(tr ' ' _ <"$t/comm" 2>/dev/null) || continue
            awk -v t="${t##*/}" -v name="$name" '/^(non)?voluntary_ctxt_switches:/ {n += $2}
                END {print t, name, n + 0}' "$t/status" 2>/dev/null
        done
    done
}

bench_threads() {  # pid
    ls /proc/"$1"/task | wc -l
}

# "x y" -> x / y with three decimals.
ratio() { python3 -c "import sys; a, b = float(sys.argv[1]), float(sys.argv[2]); print('%.3f' % (a / b) if b else 'inf')" "$1" "$2"; }

median() {  # values...
    printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

bench_machine() {
    note "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
        "$(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo), kernel $(uname -r)"
    note "load: $(cut -d' ' -f1-3 /proc/loadavg)"
}

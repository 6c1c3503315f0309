# Shared by the bench scripts: the builds they measure, a virtual display, the
# private sound server of e2e/sound_rig.sh, the Linux and Windows programs
# started and recording, the parec | pacat pipeline, and CPU and context
# switch counts from /proc. Source it; call bench_cleanup on exit.
#
# Figures go to stdout as plain "name value unit" lines; everything else a
# script says starts with "# ".
BENCH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-bench.XXXXXX")
source "$BENCH_ROOT/e2e/lib.sh"
source "$BENCH_ROOT/e2e/wine_lib.sh"

BLOCK_MS=185.760  # 2048 samples at 11025 Hz
CLK_TCK=$(getconf CLK_TCK)

note() { echo "# $*"; }
figure() { printf '%s %s %s\n' "$1" "$2" "$3"; }  # name value unit

bench_cleanup() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    e2e_cleanup
    rm -rf "$E2E_DIR"
}

bench_deps() {
    bash "$BENCH_ROOT/scripts/deps.sh" build run demo test wine | sed 's/^/# /'
}

# The Linux program, built into build-bench/ unless LARKSPAN_APP names one.
bench_linux_app() {
    if [ -n "${LARKSPAN_APP:-}" ]; then
        echo "$LARKSPAN_APP"
        return
    fi
    local dir=$BENCH_ROOT/build-bench
    cmake -S "$BENCH_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$dir" --target larkspan -j"$(nproc)" >/dev/null
    echo "$dir/larkspan"
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

# A fresh Wine prefix of our own. Wine's X window is then the client area
# alone (no Decorated=N), so the buttons are clicked at client coordinates.
bench_wine_prefix() { wine_boot >&2; }

# A 440 Hz tone into the rig's source (bus's left channel) until the script
# ends, so the program has a moving waveform to draw.
bench_tone() {
    sox -q -n -r 11025 -b 16 -e signed-integer -c 2 -t raw - synth 36000 sine 440 gain -6 remix 1 0 |
        pacat -d bus --raw --format=s16le --rate=11025 --channels=2 --latency-msec=10 &
    E2E_PIDS+=($!)
}

# The program's streams on the rig: source outputs on mic plus sink inputs on spk.
bench_streams() {
    local mic spk
    mic=$(pactl list short sources | awk '$2 == "mic" {print $1}')
    spk=$(pactl list short sinks | awk '$2 == "spk" {print $1}')
    echo $(($(pactl list short source-outputs | awk -v m="$mic" '$2 == m' | wc -l) +
        $(pactl list short sink-inputs | awk -v s="$spk" '$2 == s' | wc -l)))
}

# Window pixel of a dialog-unit point, from the client size of the window:
# the dialog is 235 x 160 dialog units.
BENCH_WIN=""
bench_find_window() {
    BENCH_WIN=$(e2e_window "Larkspan 1.0") || return 1
    eval "$(xdotool getwindowgeometry --shell "$BENCH_WIN")"
    BENCH_BX=$(((WIDTH * 4 + 117) / 235))
    BENCH_BY=$(((HEIGHT * 8 + 80) / 160))
    BENCH_SIZE="${WIDTH}x${HEIGHT}"
}

bench_click() {  # x y, in dialog units
    xdotool mousemove --window "$BENCH_WIN" "$(muldiv "$1" "$BENCH_BX" 4)" "$(muldiv "$2" "$BENCH_BY" 8)" click 1
}
bench_record() { bench_click 27 145; }
bench_stop() { bench_click 71 145; }

# Waits up to 10 s for the program's two streams; clicks Record again if
# the first click came before the window took input.
bench_wait_streams() {
    local i
    for i in $(seq 100); do
        [ "$(bench_streams)" -ge 2 ] && return 0
        [ "$i" = 40 ] && bench_record
        sleep 0.1
    done
    return 1
}

# Starts the Linux program; sets APP_PID and BENCH_WIN.
bench_start_linux() {  # app
    "$1" >"$E2E_DIR/app.log" 2>&1 &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
    bench_find_window || { note "no window"; cat "$E2E_DIR/app.log" >&2; return 1; }
}

# Starts the Windows program under Wine; sets APP_PID (the exe's process) and BENCH_WIN.
bench_start_wine() {  # exe
    "$WINE" "$1" >"$E2E_DIR/wine.log" 2>&1 &
    APP_PID=$!
    E2E_PIDS+=("$APP_PID")
    bench_find_window || { note "no Wine window"; cat "$E2E_DIR/wine.log" >&2; return 1; }
}

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
        { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$p"
    done
    return 0
}
bench_wineserver() { bench_in_prefix $(pgrep -x 'wineserver(64)?'); }
# Every process of the prefix: the exe, wineserver, services, explorer, ...
bench_wine_all() { bench_in_prefix $(ls /proc | grep '^[0-9]*$'); }

# User plus system CPU time of processes, in clock ticks.
bench_ticks() {  # pid...
    local p total=0 stat fields
    for p in "$@"; do
        stat=$(cat "/proc/$p/stat" 2>/dev/null) || continue
        # The fields after the command name, which is in parentheses: utime is the 12th.
        read -r -a fields <<<"${stat##*) }"
        total=$((total + fields[11] + fields[12]))
    done
    echo "$total"
}

# Voluntary plus nonvoluntary context switches of all threads of a process.
bench_switches() {  # pid
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(non)?voluntary_ctxt_switches:/ {n += $2} END {print n + 0}'
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

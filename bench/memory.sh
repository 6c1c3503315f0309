#!/usr/bin/env bash
# Memory: the peak resident size (VmHWM) of the Linux build after recording
# for a while, and the size of the Windows executable, stripped.
#
#   bench/memory.sh [--short] [SECONDS]     records 30 s; --short: 5 s

source "$(dirname "$0")/lib.sh"
seconds=$(bench_seconds 30 5 "$@")

bench_deps
app=$(bench_linux_app) || exit 1
exe=$(bench_windows_exe) || exit 1
bench_machine
e2e_open display sound
e2e_play_tone 0 36000

kb() { awk -v k="$2" '$1 == k":" {print $2}' "/proc/$1/status"; }

bench_start_linux "$app" || exit 1
sleep 1
figure memory.linux.idle_rss "$(kb "$APP_PID" VmRSS)" kB
app_record
bench_wait_streams || { note "Record did not open the streams"; exit 1; }
sleep "$seconds"
figure memory.linux.recording_rss "$(kb "$APP_PID" VmRSS)" kB
figure memory.linux.peak_rss "$(kb "$APP_PID" VmHWM)" kB
note "after $seconds s of recording; window ${WIDTH}x$HEIGHT"
bench_stop_app

cp "$exe" "$E2E_DIR/larkspan.exe"
x86_64-w64-mingw32-strip "$E2E_DIR/larkspan.exe"
figure memory.windows.exe_size "$(stat -c %s "$exe")" bytes
figure memory.windows.exe_stripped_size "$(stat -c %s "$E2E_DIR/larkspan.exe")" bytes
cp "$app" "$E2E_DIR/larkspan"
strip "$E2E_DIR/larkspan"
figure memory.linux.binary_stripped_size "$(stat -c %s "$E2E_DIR/larkspan")" bytes

#!/usr/bin/env bash
# The cost of one DrawWaveform call on the Linux layer (bench/draw_bench.cpp,
# Google Benchmark): the program's trace drawing on the Qt dialog's drawing
# surface, put on the screen as after every captured block, at client widths
# 353, 1024 and 4096 pixels. Run twice: on Qt's offscreen platform, and on
# xcb under a virtual display wide enough for 4096 pixels (the X server's own
# work is in another process and not counted). Figures are the median wall
# time per call over the repetitions; "silence" draws blocks of silence,
# where the dots stay on one row, the others a moving 440 Hz tone;
# "band_fill_alone" is, for scale, only the black band cleared with memset.
#
#   bench/draw.sh [--short]     5 repetitions of 0.5 s each; --short: 1 of 0.01 s

source "$(dirname "$0")/lib.sh"
reps=5
min_time=0.5
[ "${1:-}" = --short ] && { reps=1; min_time=0.01; }

bench_deps
dir=$(bench_build draw_bench) || exit 1
bench_machine

run() {  # platform-name
    "$dir/bench/draw_bench" --benchmark_repetitions="$reps" --benchmark_min_time="$min_time" \
        --benchmark_report_aggregates_only=true --benchmark_format=csv 2>"$E2E_DIR/$1.err" >"$E2E_DIR/$1.csv"
    local status=$?
    grep -h "Qt platform" "$E2E_DIR/$1.err" | sed 's/^/# /'
    [ $status -eq 0 ] || { cat "$E2E_DIR/$1.err" >&2; return 1; }
    # name,iterations,real_time,cpu_time,time_unit,...: median rows, or the
    # single run when there are no repetitions.
    python3 - "$1" "$reps" "$E2E_DIR/$1.csv" <<'PY'
import csv, sys
platform, reps = sys.argv[1], int(sys.argv[2])
rows = [line for line in open(sys.argv[3]) if line.startswith('"BM_')]
for row in csv.reader(rows):
    name, real, cpu, unit, error = row[0], row[2], row[3], row[4], row[8]
    if error == 'true':
        print('# %s skipped: %s' % (name, row[9]))
        continue
    parts = name.split('/')
    if reps > 1:
        if not parts[-1].endswith('_median'):
            continue
        parts[-1] = parts[-1][:-len('_median')]
    kind = {'BM_DrawWaveformSilence': 'silence', 'BM_BandFillAlone': 'band_fill_alone'}.get(parts[0], 'tone')
    print('draw.%s.%s.width_%s %.1f %s' % (platform, kind, parts[1], float(real), unit))
    print('draw.%s.%s.width_%s.cpu %.1f %s' % (platform, kind, parts[1], float(cpu), unit))
PY
}

status=0
QT_QPA_PLATFORM=offscreen run offscreen || status=1
# A display wide enough for the widest client area.
e2e_display 4400x1024 || exit 1
QT_QPA_PLATFORM=xcb run xcb || status=1
note "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status

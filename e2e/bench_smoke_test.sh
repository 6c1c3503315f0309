#!/usr/bin/env bash
# Every bench script in its short mode: it must run to the end and print its
# figures as "name value unit" lines. No figure is judged here; the numbers
# belong in docs/performance.md, not in a test.

source "$(dirname "$0")/lib.sh"
bench=$E2E_ROOT/bench
fails=0

# Runs one script and checks its output: exit status 0, every line either a
# note ("# ...") or a figure, and each expected figure present with a number.
check() {  # "script [option...]" expected-figure...
    local -a script
    local out name
    read -r -a script <<<"$1"
    shift
    echo "bench/${script[*]} --short"
    local start=$SECONDS
    out=$(bash "$bench/${script[0]}" "${script[@]:1}" --short 2>&1)
    local status=$?
    local bad
    bad=$(printf '%s\n' "$out" | grep -v '^# ' | grep -Ev '^[a-z0-9_.]+ -?[0-9]+(\.[0-9]+)? [A-Za-z0-9/%]+$')
    local missing=()
    for name in "$@"; do
        grep -Eq "^$name -?[0-9]+(\.[0-9]+)? [A-Za-z0-9/%]+$" <<<"$out" || missing+=("$name")
    done
    if [ $status -eq 0 ] && [ -z "$bad" ] && [ ${#missing[@]} -eq 0 ]; then
        echo "  ok    ${script[*]}: $(printf '%s\n' "$out" | grep -vc '^# ') figures, $((SECONDS - start)) s"
    else
        echo "  FAIL  ${script[*]} (exit $status)"
        [ -n "$bad" ] && printf '        not a figure: %s\n' "$bad"
        [ ${#missing[@]} -gt 0 ] && echo "        missing: ${missing[*]}"
        printf '%s\n' "$out" | sed 's/^/        | /'
        fails=$((fails + 1))
    fi
}

check delay.sh linux.delay_median linux.dropped_blocks linux.repeated_blocks linux.delay_over_2_blocks \
    wine.delay_median wine.dropped_blocks pipeline.delay_median pipeline.dropped_blocks
check cpu.sh cpu.linux.per_minute cpu.pipeline.per_minute cpu.wine.per_minute cpu.linux_to_pipeline
check idle.sh idle.started.cpu_per_minute idle.started.wakeups idle.after_record.wakeups
check memory.sh memory.linux.peak_rss memory.windows.exe_stripped_size
# Wine's blocks are counted from the sound only on the PulseAudio daemon's
# byte-exact rig (the server the benchmarks take where it is installed).
sound_figures=(wine.sound.lost_blocks wine.sound.doubled_blocks)
[ "$(bash "$E2E_LIB/sound_rig.sh" which)" = pipewire ] && sound_figures=()
check wine_blocks.sh load_median "${sound_figures[@]}" wine.trace.lost_blocks wine.trace.doubled_blocks \
    wine.trace.phase_median
check draw.sh draw.offscreen.tone.width_353 draw.offscreen.tone.width_1024 draw.offscreen.tone.width_4096 \
    draw.xcb.tone.width_1024

# With the program's sound timeline, which the report must be able to read.
check "loop.sh --timeline" loop.delay_median loop.blocks_lost loop.blocks_played_twice loop.cpu_per_minute \
    loop.wakeups loop.timeline_refill_faults

[ $fails -eq 0 ] && echo "bench smoke: all passed" || echo "bench smoke: $fails failed"
exit $((fails > 0))

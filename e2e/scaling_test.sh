#!/usr/bin/env bash
# The Linux build at the scale factors of today's displays (QT_SCALE_FACTOR
# 1, 1.25, 1.5, 1.75, 2) under a virtual display: the client area's size,
# the band and the trace of silence in whole device pixels, and the
# contact line's two lines inside their box. Screenshots of the window.
#
# LARKSPAN_SHOTS_DIR=dir keeps copies of the screenshots there.

E2E_NEEDS="session app display sound"
source "$(dirname "$0")/lib.sh"

scaled() { python3 -c "import math, sys; print(math.$1(float(sys.argv[1]) * float(sys.argv[2])))" "$2" "$3"; }

# Rows of the contact line's box holding its text (dark pixels), as
# groups "first-last", and the box's rows as "top bottom".
contact_text() {  # png factor
    local x0 y0 x1 y1
    x0=$(scaled ceil "$2" "$CONTACT_LEFT") y0=$(scaled ceil "$2" "$CONTACT_TOP")
    x1=$(scaled floor "$2" "$CONTACT_RIGHT") y1=$(scaled floor "$2" "$CONTACT_BOTTOM")
    # Inside the frame: one device pixel in from the box on every side.
    convert "$1" -crop "$((x1 - x0 - 2))x$((y1 - y0 - 2))+$((x0 + 1))+$((y0 + 1))" +repage \
        -colorspace gray -threshold 50% -negate -scale "1x$((y1 - y0 - 2))!" -depth 8 txt:- |
        python3 -c '
import re, sys
ink = [int(m.group(1)) for m in (re.match(r"0,(\d+): \((\d+)", l) for l in sys.stdin) if m and int(m.group(2)) > 0]
groups, start = [], None
for y in ink:
    if start is None or y != last + 1:
        if start is not None:
            groups.append((start, last))
        start = y
    last = y
if start is not None:
    groups.append((start, last))
print(" ".join("%d-%d" % g for g in groups))'
    echo "0 $((y1 - y0 - 3))"
}

shot() {  # png
    import -window "$APP_WIN" "$1" && { [ -z "${LARKSPAN_SHOTS_DIR:-}" ] || cp "$1" "$LARKSPAN_SHOTS_DIR/"; }
}
# band.py's figures on a screenshot: whether the band and silence's line are
# as the checks below want them.
band_drawn() {  # png
    figures=$(python3 "$E2E_LIB/band.py" "$1")
    read -r _ _ _ band_width band_height _ _ _ green_box <<<"$figures"
    [ "$band_width x $band_height $green_box" = "$width x $((256 * dot)) 0 $((128 * dot)) $width $dot" ]
}

for factor in 1 1.25 1.5 1.75 2; do
    dot=$(python3 -c "import math; print(max(1, math.floor($factor + 1e-6)))")
    echo "Scale $factor (a dot: $dot x $dot device pixels)"
    export QT_SCALE_FACTOR=$factor
    app_start "$E2E_DIR/app-$factor.log" || { E2E_FAILS=$((E2E_FAILS + 1)); continue; }
    # The places before scaling, for the Linux layer's base units.
    # shellcheck disable=SC2086 # two numbers
    dialog_geometry $LINUX_BASE_UNITS
    width=$(python3 -c "print(round($DLG_WIDTH * $factor))") height=$(python3 -c "print(round($DLG_HEIGHT * $factor))")
    echo "  client area: $WIDTH x $HEIGHT device pixels, $(((WIDTH + dot - 1) / dot)) x $(((HEIGHT + dot - 1) / dot)) pixels to the program"
    e2e_check "client area $DLG_WIDTH x $DLG_HEIGHT scaled: $width x $height" test "$WIDTH x $HEIGHT" = "$width x $height"
    app_click "$(scaled floor "$factor" "$RECORD_X")" "$(scaled floor "$factor" "$RECORD_Y")"
    png=$E2E_DIR/scale-$factor.png figures='no screenshot' band_width=0 band_height=0 green_box=none
    e2e_shot_until 10 "$png" shot -- band_drawn
    echo "  $figures"
    e2e_check "the band: all of the width, 256 dots high" test "$band_width x $band_height" = "$width x $((256 * dot))"
    e2e_check "silence: one row of dots on row 128, each $dot device pixels high" \
        test "$green_box" = "0 $((128 * dot)) $width $dot"
    { read -r lines; read -r box; } < <(contact_text "$png" "$factor")
    read -r first second _ <<<"$lines"
    echo "  contact text rows ${lines:-none} in a box of rows ${box/ /-}"
    e2e_check "the contact line: two lines of text" test -n "${second:-}" -a "$(wc -w <<<"$lines")" = 2
    # Both lines have letters that reach down (p, g): cut off, the second is
    # shorter by their tails; by one row it may be from where it falls
    # between device pixels.
    e2e_check "the second line as tall as the first, above the box's bottom" \
        test $((${second#*-} - ${second%-*})) -ge $((${first#*-} - ${first%-*} - 1)) -a "${second#*-}" -lt "${box#* }"
    app_close || true
    e2e_check "the program exits with 0" test "$APP_STATUS" = 0
done

e2e_result "scaling e2e"

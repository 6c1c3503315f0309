#!/usr/bin/env bash
# The Windows build as a person uses it, under Wine: a fresh prefix, a
# virtual display, the private sound server of sound_rig.sh, clicks with
# xdotool, and a helper inside Wine that reads the dialog's controls,
# which are not X windows.

source "$(dirname "$0")/lib.sh"
# Without Wine by choice (see scripts/deps.sh), say so rather than fail.
if [ "${LARKSPAN_WITH_WINE:-1}" = 0 ]; then echo "wine e2e: skipped, LARKSPAN_WITH_WINE=0"; exit 0; fi
# Wine's capture starts late on a pinned quantum (see sound_rig.sh).
export SOUND_RIG_QUANTUM=free
e2e_open wine display sound

echo "The manifest of each executable"
wanted_manifest='os {35138b9a-5d96-4fbd-8e2d-a2440225f93a}
os {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}
os {1f676c76-80e1-4239-95bb-83d0f6d0da78}
os {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}
level asInvoker false
dpiAware true
dpiAwareness PerMonitorV2, System
dependency Microsoft.Windows.Common-Controls 6.0.0.0'
for file in $(realpath -e "$EXE" "$E2E_ROOT/build-win/larkspan.exe" "$E2E_ROOT/build-win32/larkspan.exe" | sort -u); do
    e2e_check "$file: Windows 7 to 11, asInvoker, DPI-aware, Common Controls 6" \
        test "$(wine_manifest "$file")" = "$wanted_manifest"
done

wine_prefix || exit 1
wine_helper || exit 1

"$WINE" "$EXE" --anything -x "ignored arguments" >"$E2E_DIR/app.log" 2>&1 &
app_pid=$!
list_controls >"$E2E_DIR/controls.txt" || { echo "no window"; cat "$E2E_DIR/app.log"; exit 1; }
cat "$E2E_DIR/controls.txt" | sed 's/^/  /'
value() { awk -v k="$1" '$1 == k {print $'"${2:-2}"'}' "$E2E_DIR/controls.txt"; }
style=$(value style) bx=$(value base) by=$(value base 3) ox=$(value origin) oy=$(value origin 3)
width=$(value client) height=$(value client 3)
dialog_tool lines "$bx" "$by" >"$E2E_DIR/template.txt" || exit 1
wanted_style=$(awk '$1 == "style" {print $2}' "$E2E_DIR/template.txt")
read -r _ want_x want_y want_w want_h < <(grep '^at ' "$E2E_DIR/template.txt")

echo "Geometry"
e2e_check "plausible base units ($bx x $by)" test "$bx" -ge 5 -a "$bx" -le 10 -a "$by" -ge 10 -a "$by" -le 20
e2e_check "style $style has every style of the template ($wanted_style)" \
    test $((style & wanted_style)) -eq $((wanted_style))
e2e_check "style has WS_CLIPCHILDREN" test $((style & 0x02000000)) -ne 0
e2e_check "client area is the template's size in dialog units (${width}x$height)" \
    test "$width" -eq "$want_w" -a "$height" -eq "$want_h"
e2e_check "client area at 100, 100 dialog units ($ox, $oy)" test "$ox" -eq "$want_x" -a "$oy" -eq "$want_y"
e2e_check "the dialog has just the template's controls" \
    test "$(grep -c '^control ' "$E2E_DIR/controls.txt")" -eq "$(grep -c '^control ' "$E2E_DIR/template.txt")"
while read -r line; do
    e2e_check "${line#control }" grep -qxF "$line" "$E2E_DIR/controls.txt"
done < <(grep '^control ' "$E2E_DIR/template.txt")
e2e_check "the text of each control fits it" test "$(grep -c '^fits [0-9-]* 1 ' "$E2E_DIR/controls.txt")" = 3
# Of the manifest, this is the part Wine 8 heeds that shows in the program:
# it makes every program DPI-aware and runs it as the invoking user anyway,
# and supportedOS changes only what GetVersionEx says, which is not asked.
e2e_check "the controls come from Common Controls 6, as the manifest asks" \
    grep -qi '^comctl32 .*common-controls_[0-9a-f]*_6\.' "$E2E_DIR/controls.txt"

# Centres of the buttons, on the screen.
read -r _ _ _ _ rl rt rr rb _ < <(grep '^control Button 1000 ' "$E2E_DIR/template.txt")
read -r _ _ _ _ sl _ sr _ _ < <(grep '^control Button 1001 ' "$E2E_DIR/template.txt")
click() { xdotool mousemove "$((ox + $1))" "$((oy + (rt + rb) / 2))" click 1; }
record() { click $(((rl + rr) / 2)); }
stop() { click $(((sl + sr) / 2)); }
# The client area of a screenshot of the whole screen.
shot() {  # png
    import -window root -crop "${width}x$height+$ox+$oy" +repage "$1" &&
        { [ -z "${LARKSPAN_SHOTS_DIR:-}" ] || cp "$1" "$LARKSPAN_SHOTS_DIR/wine-${1##*/}"; }
}
# What the checks look for in a screenshot; each a command taking the PNG last.
silence_line() { test "$(e2e_green "$1" 0 128 "$width" 1)" -ge $((width - 2)); }
tone_dots() { test "$(e2e_green "$1" 0 0 "$width" 120)" -gt 50; }
black_band_silence_line() {
    test "$(convert "$1" -crop "${width}x256+0+0" txt:- | grep -c '#000000')" -eq $((width * 255)) -a \
        "$(e2e_green "$1" 0 128 "$width" 1)" -eq "$width"
}

# The exit status of the wine process, which is the program's; a program
# still running after 10 s is stopped and fails.
exits_with_0() {
    for _ in $(seq 100); do kill -0 $app_pid 2>/dev/null || break; sleep 0.1; done
    kill $app_pid 2>/dev/null && echo "  (still running: stopped)"
    wait $app_pid
}

echo "A recording"
e2e_record_bus "$E2E_DIR/bus.raw"
record
e2e_check "silence draws a green line on band row 128" \
    e2e_shot_until 10 "$E2E_DIR/silence.png" shot -- silence_line
e2e_check "both streams open" test "$(rig_streams)" -eq 2
e2e_play_tone 0.3 2
e2e_check "a tone draws green dots off row 128" e2e_shot_until 10 "$E2E_DIR/tone.png" shot -- tone_dots
e2e_check "the buttons stay visible over the band" \
    python3 -c "import sys; sys.exit(0 if float('$(e2e_mean "$E2E_DIR/tone.png" "$rl" "$rt" $((rr - rl)) $((rb - rt)))') > 0.5 else 1)"
sleep 3
e2e_stop_recording
delay=$(wine_delay "$E2E_DIR/bus.raw")
echo "  delay under Wine: $delay s"
# Two to three blocks (0.372 to 0.557 s); Wine hands a played block back a
# little before all of it has been heard (once measured 0.369 s).
e2e_check "the tone came out 0.35 to 0.60 s later" \
    python3 -c "import sys; d='$delay'; sys.exit(0 if d not in ('none', 'click') and 0.35 <= float(d) <= 0.60 else 1)"

echo "Stop"
stop
sleep 1
e2e_check "Stop closes both streams" test "$(rig_streams)" -eq 0
list_controls >"$E2E_DIR/stopped.txt"
e2e_check "Record is enabled again, Stop is not" \
    grep -q '^control Button 1000 1 .* 1001 0 ' <(grep '^control Button' "$E2E_DIR/stopped.txt" | tr '\n' ' ')

echo "Record again"
record
sleep 1
e2e_check "both streams open again" test "$(rig_streams)" -eq 2
stop
sleep 1
e2e_check "and close again" test "$(rig_streams)" -eq 0

echo "Closing the window"
list_controls close
e2e_check "the program exits with 0" exits_with_0

echo "No sound server"
PULSE_SERVER=unix:/nonexistent/socket "$WINE" "$EXE" >"$E2E_DIR/app2.log" 2>&1 &
app_pid=$!
list_controls >/dev/null
record
text=$(list_controls box Vazozo1)
e2e_check "a message box titled Vazozo1 says the device cannot be opened" \
    test "$text" = 'text "I can'\''t open wave device. Maybe Your SB does not support dual mode."'
e2e_check "then the program exits with 0" exits_with_0

# Wine scales every program to the prefix's DPI, with a manifest or
# without: what this checks is the layout, by Windows' rules for a dialog.
echo "At 144 and 192 dpi"
for dpi in 144 192; do  # Wine reads it as each program starts
    for key in 'HKCU\Control Panel\Desktop' 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
        "$WINE" reg add "$key" /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
    done
    "$WINE" "$EXE" >"$E2E_DIR/app$dpi.log" 2>&1 &
    app_pid=$!
    list_controls >"$E2E_DIR/controls.txt" || { echo "no window"; cat "$E2E_DIR/app$dpi.log"; exit 1; }
    grep -v '^comctl32 ' "$E2E_DIR/controls.txt" | sed "s/^/  $dpi dpi: /"
    bx=$(value base) by=$(value base 3) width=$(value client) height=$(value client 3) ox=$(value origin)
    oy=$(value origin 3)
    dialog_tool lines "$bx" "$by" >"$E2E_DIR/template.txt" || exit 1
    e2e_check "client area and controls where the template puts them in base units $bx x $by" \
        test -z "$(grep '^control ' "$E2E_DIR/template.txt" | grep -vxFf "$E2E_DIR/controls.txt")" -a \
        "$(awk '$1 == "at" {print $4, $5}' "$E2E_DIR/template.txt")" = "$width $height"
    e2e_check "the text of each control fits it" test "$(grep -c '^fits [0-9-]* 1 ' "$E2E_DIR/controls.txt")" = 3
    top=$(awk '$1 == "control" {print $6}' "$E2E_DIR/template.txt" | sort -n | head -1)
    e2e_check "the controls lie below the 256-row band (the topmost at $top)" test "$top" -ge 256
    read -r _ _ _ _ rl rt rr rb _ < <(grep '^control Button 1000 ' "$E2E_DIR/template.txt")
    record
    e2e_check "the band is black, with silence's green line on row 128" \
        e2e_shot_until 10 "$E2E_DIR/dpi$dpi.png" shot -- black_band_silence_line
    list_controls close
    e2e_check "the program exits with 0" exits_with_0
done

echo "screenshots in $E2E_DIR"
e2e_result "wine e2e"

#!/usr/bin/env bash
# The Linux build while its sound server fails: killed, stopped, restarted,
# its devices suspended or removed, or the session ending, under a virtual
# display on the private server of sound_rig.sh. After every fault the
# program must still run and answer within 5 s, Stop must bring the buttons
# back to idle with nothing of the program left on the server, and the next
# Record must either work or show the device message box, after which the
# program ends with 0. Where the fault cuts the program's sound off for a
# while, the output must fall silent meanwhile (no block played over and
# over) and the sound come back at its delay.

E2E_NEEDS="servers app display sound"
source "$(dirname "$0")/lib.sh"
here=$E2E_LIB

injected=0
survived=0

rig_restart() {
    bash "$here/sound_rig.sh" stop "$E2E_DIR/rig" >/dev/null 2>&1
    e2e_sound_server
}

# The whole server: on PipeWire its daemon, session manager and PulseAudio
# service (SOUND_RIG_PIDS), as a desktop's sound stack fails or hangs.
rig_kill() {
    local p
    # shellcheck disable=SC2086 # a list of pids
    kill -KILL $SOUND_RIG_PIDS
    for p in $SOUND_RIG_PIDS; do
        while kill -0 "$p" 2>/dev/null; do sleep 0.05; done
    done
}

rig_signal() {  # STOP|CONT
    # shellcheck disable=SC2086 # a list of pids
    kill -"$1" $SOUND_RIG_PIDS
}

unload() {  # module name
    pactl unload-module "$(pactl list short modules | awk -v m="$1" '$2 == m {print $1}')"
}

# Each fault keeps its own recording, and the program its timeline, for a
# failure to be looked into afterwards.
start_app() {
    export LARKSPAN_SOUND_TIMELINE=$E2E_DIR/timeline$injected.txt
    app_start "$E2E_DIR/app$injected.log" || exit 1
}

# Every click of the recording out once, at one delay; the whole analysis
# is shown when not.
clicks_once() {  # recording
    local out status
    out=$(python3 "$here/clicks.py" analyze "$1")
    status=$?
    if [ $status -eq 0 ]; then
        sed -n 's/^delay/        delay/p' <<<"$out"
    else
        sed 's/^/        /' <<<"$out"
    fi
    e2e_check "every click out once, at one delay" test $status -eq 0
}

recording() {
    app_record
    e2e_check "Record opens two streams" app_wait_streams 3
    sleep 1
}

# The program lives and handles a click within 5 s.
answers() {
    local ms
    e2e_check "still running" app_alive
    ms=$(app_probe 5)
    e2e_check "handles a click within 5 s ($ms ms)" test $? -eq 0
}

# Stop brings the buttons back to idle within 5 s.
stops() {
    local start
    start=$(date +%s%N)
    app_stop
    e2e_check "Stop: buttons idle within 5 s" app_wait_buttons idle 5
    echo "        after $((($(date +%s%N) - start) / 1000000)) ms"
}

# Record either works, or shows the device message box and the program
# ends with 0 (and is started again). `want` says which must happen.
next_record() {  # works|box|either
    local want=$1 got=none
    app_record
    for _ in $(seq 100); do
        if [ "$(app_streams)" = 3 ]; then
            got=works
            break
        fi
        if xdotool search --name '^Vazozo1$' >/dev/null 2>&1; then
            got=box
            break
        fi
        sleep 0.1
    done
    echo "        next Record: $got"
    case "$got" in
    works)
        e2e_check "next Record works" test "$want" != box
        stops
        e2e_check "nothing of ours left on the server" app_wait_streams 0
        ;;
    box)
        e2e_check "next Record shows the device message box" test "$want" != works
        app_answer_box
        app_wait_exit 10
        e2e_check "then the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
        start_app
        ;;
    *)
        e2e_check "next Record either works or shows the message box" false
        ;;
    esac
}

fault() {  # description
    injected=$((injected + 1))
    fails_before=$E2E_FAILS
    echo "Fault $injected: $1"
    fault_name=$1
}

# A click train goes in while `cut` cuts the program's sound off for 2 s,
# until `mend`; what came out is judged by clicks.py gap (held: the whole
# server was stopped).
cut_off() {  # cut mend [held]
    e2e_record_bus "$E2E_DIR/bus$injected.raw" 13
    e2e_play_clicks 10
    local feeder=$!
    sleep 0.5
    recording
    sleep 2
    $1
    sleep 2
    answers
    $2
    sleep 5
    answers
    stops
    wait "$feeder"
    python3 "$here/clicks.py" gap "$E2E_DIR/bus$injected.raw" ${3:-} | tail -n 2 | sed 's/^/        /'
    e2e_check "silence while cut off, then the sound at its delay" test "${PIPESTATUS[0]}" -eq 0
}

survived() {
    if [ $E2E_FAILS -eq "$fails_before" ]; then
        survived=$((survived + 1))
        echo "fault $injected survived: $fault_name"
    else
        echo "fault $injected NOT survived: $fault_name"
    fi
}

echo "Probe check: a stopped program does not answer"
start_app
kill -STOP "$APP_PID"
ms=$(app_probe 1)
e2e_check "no answer while the program is stopped ($ms)" test $? -ne 0
kill -CONT "$APP_PID"
ms=$(app_probe 5)
e2e_check "an answer once it runs again ($ms ms)" test $? -eq 0

fault "server killed during a recording; Record again while it is gone"
recording
rig_kill
sleep 1
answers
stops
next_record box
rig_restart
survived

# The delay a recording's clicks came out at, in ms.
delay_of() {  # recording
    python3 "$here/clicks.py" figures "$1" | awk '$1 == "delay_median" { print $2 }'
}

fault "server killed and restarted during a recording"
e2e_record_bus "$E2E_DIR/before$injected.raw" 6
e2e_play_clicks 4
recording
sleep 5
before=$(delay_of "$E2E_DIR/before$injected.raw")
rig_kill
sleep 1
rig_restart
start=$(date +%s%N)
e2e_check "the recording goes on on the new server" app_wait_streams 3 5
back=$((($(date +%s%N) - start) / 1000000))
echo "        streams back after $back ms"
# The sound has 2 s from the server's answer to come back in; what comes
# out is judged from then on.
[ $back -ge 2000 ] || sleep "$(awk -v ms=$((2000 - back)) 'BEGIN { print ms / 1000 }')"
e2e_record_bus "$E2E_DIR/bus$injected.raw" 8
e2e_play_clicks 6
sleep 7
clicks_once "$E2E_DIR/bus$injected.raw"
# Measured after minus before: PulseAudio -1.8 to 5.0 ms in nine runs;
# PipeWire -25.5 to 15.2 in eleven, where the new streams fall within a
# quantum of the graph (1024 frames at 48 kHz, 21.3 ms) either way. Half a
# quantum more is allowed for that; playback that starts again where it
# left off, not where the sound would be, came back 87 ms late.
after=$(delay_of "$E2E_DIR/bus$injected.raw")
e2e_check "at the delay it had before ($before ms, now $after ms)" \
    awk -v b="$before" -v a="$after" 'BEGIN { d = a - b; exit !(b != "" && a != "" && d <= 32 && d >= -32) }'
answers
stops
e2e_check "nothing of ours left on the new server" app_wait_streams 0
next_record works
survived

fault "server stopped (SIGSTOP) while Record opens the devices"
rig_signal STOP
app_record
answers
e2e_check "the device message box appears" app_answer_box 5
app_wait_exit 10
e2e_check "then the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
rig_signal CONT
e2e_check "the server drops its half-open connection" app_wait_streams 0
start_app
next_record works
survived

fault "server stopped for 2 s during a recording"
cut_off "rig_signal STOP" "rig_signal CONT" held
e2e_check "nothing of ours left on the server" app_wait_streams 0
next_record works
survived

for device in source:mic sink:spk; do
    IFS=: read -r kind name <<<"$device"
fault "the default $kind suspended for 2 s during a recording"
cut_off "pactl suspend-$kind $name 1" "pactl suspend-$kind $name 0"
e2e_check "nothing of ours left on the server" app_wait_streams 0
survived
done

fault "server stopped during a recording, Stop while stopped, then continued"
recording
rig_signal STOP
sleep 1
answers
stops
rig_signal CONT
e2e_check "nothing of ours left on the server" app_wait_streams 0
next_record works
survived

fault "server restarted between recordings"
recording
stops
rig_restart
next_record works
survived

for device in sink source; do
fault "default $device removed during a recording"
recording
unload module-remap-$device
sleep 1
answers
stops
e2e_check "nothing of ours left on the server" app_wait_streams 0
next_record either
rig_restart
survived
done

fault "the program held up for 60 ms, five times, while it passes a click train"
e2e_record_bus "$E2E_DIR/bus$injected.raw" 12
e2e_play_clicks 9
sleep 0.5
recording
for _ in 1 2 3 4 5; do
    kill -STOP "$APP_PID"
    sleep 0.06
    kill -CONT "$APP_PID"
    sleep 1.5
done
answers
stops
e2e_check "nothing of ours left on the server" app_wait_streams 0
sleep 2.5
clicks_once "$E2E_DIR/bus$injected.raw"
survived

fault "the window 1 pixel wide, then 8000 pixels wide, during a recording"
recording
eval "$(xdotool getwindowgeometry --shell "$APP_WIN")"
for w in 1 8000; do
    xdotool windowsize "$APP_WIN" $w "$HEIGHT"
    sleep 1.5
    echo "        asked for $w x $HEIGHT, got $(xdotool getwindowgeometry "$APP_WIN" | awk '/Geometry/ {print $2}')"
    answers
done
xdotool windowsize "$APP_WIN" "$WIDTH" "$HEIGHT"
sleep 1
answers
stops
e2e_check "nothing of ours left on the server" app_wait_streams 0
survived

echo "Closing"
app_close 10
e2e_check "the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0

for signal in TERM HUP; do
fault "SIG$signal during a recording, as when the session ends"
start_app
recording
kill -$signal "$APP_PID"
start=$(date +%s%N)
app_wait_exit 5 || app_wait_exit 20
echo "        ended after $((($(date +%s%N) - start) / 1000000)) ms"
e2e_check "the program ends with 0 within 5 s (got $APP_STATUS)" test "$APP_STATUS" = 0 -a $(($(date +%s%N) - start)) -lt 5500000000
e2e_check "nothing of ours left on the server" app_wait_streams 0
survived
done

fault "a command line of odd arguments"
# shellcheck disable=SC2034 # read by app_start
APP_ARGS=(-platform xyz --help -reverse -style nonesuch -geometry 1x1+0+0 "" $'\xff\xfe' \
    "$(head -c 3000 /dev/zero | tr '\0' x)")
start_app
e2e_check "the window appears, idle, at its place" test "$(app_buttons)" = idle -a "$X" -eq "$DLG_LEFT"
next_record works
app_close 10
e2e_check "the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
survived

echo "faults injected: $injected, survived: $survived"
e2e_result "faults e2e"

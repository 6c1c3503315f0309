#!/usr/bin/env bash
# A long run of the Linux build under a virtual display on the private sound
# server of e2e/sound_rig.sh: CYCLES Record/Stop cycles, then SECONDS of
# pass-through of a click train (e2e/clicks.py).
#   bench/soak.sh [CYCLES [SECONDS]]      default 200 cycles and 600 s
# Fails on a hang (a Stop not back to idle within 5 s), a stream or a
# connection left on the server after a Stop, resident memory grown by
# 1 MB or more (idle after the first 10 cycles against idle at the end, and
# early in the pass-through against its end), a click lost, heard twice or
# moved, or an exit status other than 0. e2e/soak_test.sh runs a short form.

E2E_NEEDS="app display sound"
source "$(dirname "$0")/../e2e/lib.sh"
cycles=${1:-200}
seconds=${2:-600}
here=$E2E_LIB
warmup=$((cycles < 10 ? cycles : 10))

echo "sound server: $LARKSPAN_SOUND_SERVER"
app_start "$E2E_DIR/app.log" || exit 1

echo "$cycles Record/Stop cycles"
start=$(date +%s)
hung=0 left=0 unopened=0
for i in $(seq "$cycles"); do
    app_record
    app_wait_streams 3 5 || unopened=$((unopened + 1))
    app_stop
    app_wait_buttons idle 5 || { hung=$((hung + 1)); echo "  cycle $i: not idle 5 s after Stop"; }
    app_wait_streams 0 5 || { left=$((left + 1)); echo "  cycle $i: $(app_streams) streams or connections left"; }
    [ "$i" -eq "$warmup" ] && rss_warm=$(app_rss)
done
echo "  $cycles cycles in $(($(date +%s) - start)) s"
e2e_check "every Record opened both streams ($unopened did not)" test $unopened -eq 0
e2e_check "every Stop back to idle within 5 s ($hung not)" test $hung -eq 0
e2e_check "nothing left on the server after any Stop ($left times)" test $left -eq 0
e2e_check "still running" app_alive

echo "$seconds s of pass-through"
e2e_record_bus "$E2E_DIR/bus.raw" $((seconds + 5))
e2e_play_clicks "$seconds"
sleep 0.5
app_record
e2e_check "Record opens both streams" app_wait_streams 3 5
early=$((seconds < 60 ? seconds / 3 : 30))
sleep "$early"
rss_early=$(app_rss)
slow=0 worst=0
end=$(($(date +%s) + seconds - early))
while [ "$(date +%s)" -lt $end ]; do
    ms=$(app_probe 5) || slow=$((slow + 1))
    [ "${ms%% *}" -gt "$worst" ] 2>/dev/null && worst=${ms%% *}
    sleep 5
done
rss_late=$(app_rss)
e2e_check "answered every click within 5 s while passing sound (slowest $worst ms)" test $slow -eq 0
app_stop
e2e_check "Stop back to idle within 5 s" app_wait_buttons idle 5
e2e_check "nothing left on the server" app_wait_streams 0 5
sleep 1
rss_end=$(app_rss)
sleep 4  # the recording of the bus ends
python3 "$here/clicks.py" analyze "$E2E_DIR/bus.raw" | sed 's/^/  /'
e2e_check "every click out once, at one delay" test "${PIPESTATUS[0]}" -eq 0

echo "Memory"
echo "  VmRSS idle after $warmup cycles $rss_warm kB, idle at the end $rss_end kB"
echo "  VmRSS after $early s of pass-through $rss_early kB, at its end $rss_late kB"
e2e_check "idle VmRSS grew by under 1 MB ($((rss_end - rss_warm)) kB)" test $((rss_end - rss_warm)) -lt 1024
e2e_check "VmRSS while passing sound grew by under 1 MB ($((rss_late - rss_early)) kB)" \
    test $((rss_late - rss_early)) -lt 1024

app_close 10
e2e_check "the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0

echo "soaked: $cycles cycles, $seconds s of pass-through"
e2e_result soak

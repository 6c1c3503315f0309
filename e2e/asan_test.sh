#!/usr/bin/env bash
# The AddressSanitizer and UndefinedBehaviorSanitizer build of the program
# (build-asan/larkspan, as scripts/test.sh builds it) through a whole
# session: Record, Stop, Record again, close; then Record with no playback
# device, which ends on the device message. Any sanitizer report fails,
# leaks included; tests/lsan.supp holds the libraries' own leaks.

APP=${LARKSPAN_ASAN_APP:-$(dirname "$0")/../build-asan/larkspan}
E2E_NEEDS="app display sound"
source "$(dirname "$0")/lib.sh"
APP_WAIT=60
export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS=suppressions=$E2E_ROOT/tests/lsan.supp:print_suppressions=1
export UBSAN_OPTIONS=print_stacktrace=1

# No report from a sanitizer, and the leaks suppressed only by our file.
clean_log() {  # log
    ! grep -E "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|SUMMARY: " "$1"
}

echo "A whole session"
app_start "$E2E_DIR/app.log" || exit 1
ms=$(app_probe 30)
e2e_check "the window takes clicks ($ms ms)" test $? -eq 0
for round in 1 2; do
    app_record
    e2e_check "Record opens two streams ($round)" app_wait_streams 3 20
    sleep 3
    app_stop
    e2e_check "Stop closes them ($round)" app_wait_streams 0 20
done
app_close 60
e2e_check "the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
e2e_check "no sanitizer report" clean_log "$E2E_DIR/app.log"

echo "Record with no playback device"
no_reconnect=()
[ "$LARKSPAN_SOUND_SERVER" = pipewire ] && no_reconnect=(PULSE_PROP=node.dont-reconnect=true)
app_start "$E2E_DIR/app2.log" env PULSE_SINK=larkspan-no-such-device "${no_reconnect[@]}" || exit 1
app_probe 30 >/dev/null
app_record
e2e_check "the device message box appears" app_answer_box 30
app_wait_exit 60
e2e_check "then the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
e2e_check "no sanitizer report" clean_log "$E2E_DIR/app2.log"

e2e_result "asan e2e"

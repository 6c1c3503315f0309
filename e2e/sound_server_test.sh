#!/usr/bin/env bash
# What the Linux build shows on the sound server, on each server: its
# streams as a volume control lists them (names, application, icon), one
# stream each way per Record and none thrown away, the devices PULSE_SINK
# and PULSE_SOURCE name, and the warning sound: when a device will not open
# while the server runs, an event sound reaches the sink before the message
# box shows.

E2E_NEEDS="servers app display sound"
source "$(dirname "$0")/lib.sh"
echo "server: $(pactl info | grep '^Server Name')"

# Our streams: the blocks of `pactl list sink-inputs|source-outputs` that
# carry this process id.
ours() {  # sink-inputs|source-outputs
    pactl list "$1" | awk -v pid="application.process.id = \"$APP_PID\"" '
        /^[A-Z].* #[0-9]+$/ { if (block ~ pid) printf "%s", block; block = "" }
        { block = block $0 "\n" }
        END { if (block ~ pid) printf "%s", block }'
}
prop() {  # text name
    grep -m1 "^[[:space:]]*$2 = " <<<"$1" | sed 's/^[^=]*= "//; s/"$//'
}
device_of() {  # text -> the sink or source index of the stream
    grep -m1 -E '^[[:space:]]*(Sink|Source): ' <<<"$1" | awk '{print $2}'
}
index_of() {  # sinks|sources name
    pactl list short "$1" | awk -v n="$2" '$2 == n {print $1}'
}

echo "Streams on devices named by PULSE_SINK and PULSE_SOURCE"
# Devices that are not the defaults: a sink of its own, and a source that
# hears bus's left channel as mic does.
pactl load-module module-null-sink sink_name=other rate=11025 channels=1 >/dev/null
pactl load-module module-remap-source source_name=othermic master=bus.monitor channels=1 \
    master_channel_map=front-left channel_map=mono remix=no >/dev/null
pactl subscribe >"$E2E_DIR/events" 2>/dev/null &
E2E_PIDS+=($!)
PULSE_SINK=other PULSE_SOURCE=othermic app_start "$E2E_DIR/app.log" || exit 1
app_record
e2e_check "Record opens both streams" app_wait_streams 3 5
sleep 1
playback=$(ours sink-inputs)
capture=$(ours source-outputs)
echo "  pactl list sink-inputs, ours:"
sed 's/^/    /' <<<"$playback" | grep -E 'Sink Input|Sink:|Sample|media.name|application.(name|id|icon_name)|node.name|Corked'
echo "  pactl list source-outputs, ours:"
sed 's/^/    /' <<<"$capture" | grep -E 'Source Output|Source:|Sample|media.name|application.(name|id|icon_name)|Corked'
e2e_check "playback on the sink PULSE_SINK names" test "$(device_of "$playback")" = "$(index_of sinks other)"
e2e_check "capture from the source PULSE_SOURCE names" test "$(device_of "$capture")" = "$(index_of sources othermic)"
e2e_check "playback named \"Larkspan playback\"" test "$(prop "$playback" media.name)" = "Larkspan playback"
e2e_check "capture named \"Larkspan capture\"" test "$(prop "$capture" media.name)" = "Larkspan capture"
for what in playback capture; do
    e2e_check "$what: application name, id and icon" test \
        "$(prop "${!what}" application.name)|$(prop "${!what}" application.id)|$(prop "${!what}" application.icon_name)" = \
        "Larkspan|org.example.Larkspan|org.example.Larkspan"
done
e2e_check "both in the program's format" \
    test "$(grep -c 'Sample S[a-z]*: s16le 1ch 11025Hz' <<<"$playback$capture")" = 2
app_stop
e2e_check "Stop closes them" app_wait_streams 0 5
sleep 0.5
# The server numbers every stream it makes: one each way for the Record.
new=$(grep -cE "'new' on sink-input" "$E2E_DIR/events")
e2e_check "one playback stream made for the Record, none thrown away ($new)" test "$new" -eq 1
e2e_check "one capture stream made for the Record ($(grep -cE "'new' on source-output" "$E2E_DIR/events"))" \
    test "$(grep -cE "'new' on source-output" "$E2E_DIR/events")" -eq 1
app_close 10
e2e_check "the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0

echo "The warning sound when a device will not open"
# A source that is gone: the capture open fails while the server runs. On
# PipeWire the stream would otherwise be moved to another source.
e2e_record_bus "$E2E_DIR/bus.raw" 8
PULSE_SOURCE=gone PULSE_PROP=node.dont-reconnect=true app_start "$E2E_DIR/app2.log" || exit 1
app_record
sound_at= box_at=
start=$(date +%s%N)
for _ in $(seq 200); do
    now=$((($(date +%s%N) - start) / 1000000))
    if [ -z "$sound_at" ]; then
        sound=$(ours sink-inputs)
        grep -q 'event.id = "dialog-warning"' <<<"$sound" && sound_at=$now
    fi
    [ -z "$box_at" ] && xdotool search --name '^Vazozo1$' >/dev/null 2>&1 && box_at=$now
    [ -n "$box_at" ] && [ -n "$sound_at" ] && break
    sleep 0.02
done
echo "  event sound seen after ${sound_at:-never} ms, message box after ${box_at:-never} ms"
sed 's/^/    /' <<<"$sound" | grep -E 'Sink Input|Sink:|media.role|event.id|application.name'
e2e_check "an event sound, dialog-warning, on the default sink" \
    test -n "$sound_at" -a "$(device_of "$sound")" = "$(index_of sinks spk)" -a "$(prop "$sound" media.role)" = event
e2e_check "heard before the box shows" test -n "$sound_at" -a -n "$box_at" -a "${sound_at:-1}" -le "${box_at:-0}"
sleep 2
app_answer_box 5
app_wait_exit 10
e2e_check "then the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
sleep 4
e2e_check "the sound came out of the default sink" python3 -c "
import array, sys
a = array.array('h'); d = open('$E2E_DIR/bus.raw', 'rb').read(); a.frombytes(d[:len(d) // 4 * 4])
sys.exit(0 if max((abs(v) for v in a[1::2]), default=0) > 1000 else 1)"

e2e_result "sound server e2e"

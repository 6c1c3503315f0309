#!/usr/bin/env bash
# The Linux build under valgrind's memcheck: one full recording (start,
# Record, a few seconds of pass-through, Stop, close), then Record with no
# capture device and with no playback device, each ending on the device
# message. Fails on any error, definite leak included, with a frame of our
# own sources in its stack, and on the failure paths on any error at all.
# Reports from inside the libraries (Qt, fontconfig, libpulse, glib, X)
# are suppressed by tests/valgrind.supp, each with its reason; any other
# report that stays inside them is listed but does not fail the recording.

E2E_NEEDS=app
source "$(dirname "$0")/lib.sh"
root=$E2E_ROOT
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 1; }
e2e_open display sound

memcheck=(valgrind --tool=memcheck --xml=yes --suppressions="$root/tests/valgrind.supp" --gen-suppressions=all
    --child-silent-after-fork=yes --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite
    --track-origins=yes --num-callers=40)
APP_WAIT=120  # the window takes a while under valgrind

# Lists the report's errors and counts them; fails on any with a frame of
# our own sources, or with `all`, on any at all.
check_report() {  # xml [all]
    python3 - "$1" "$root" "${2:-}" <<'PY'
import os
import sys
import xml.etree.ElementTree as ET

path, root, every = sys.argv[1], sys.argv[2], sys.argv[3] == 'all'
ours = tuple(os.path.join(root, d) + os.sep for d in ('app', 'sound', 'trace', 'port', 'res'))
tree = ET.parse(path)
errors = tree.getroot().findall('error')
failing = 0
for e in errors:
    frames = e.findall('stack/frame')
    own = [f for f in frames if (f.findtext('dir') or '').rstrip('/') + '/' != '/'
           and ((f.findtext('dir') or '') + '/').startswith(ours)]
    what = e.findtext('kind'), e.findtext('what') or e.findtext('xwhat/text') or ''
    where = own[0] if own else (frames[0] if frames else None)
    place = '?'
    if where is not None:
        place = '%s (%s:%s)' % (where.findtext('fn'), where.findtext('file'), where.findtext('line'))
    print('  %s  %s: %s at %s' % ('OURS   ' if own else 'library', what[0], what[1], place))
    failing += bool(own)
    if not own:
        print('\n'.join('      ' + l for l in (e.findtext('suppression/rawtext') or '').splitlines()))
used = tree.getroot().findall('suppcounts/pair')
print('  memcheck: %d errors reported, %d with a frame of ours; %d suppressions used' %
      (len(errors), failing, sum(int(p.findtext('count')) for p in used)))
sys.exit(1 if failing or (every and errors) else 0)
PY
}

# Answers the device message box with Return until it has gone: under
# memcheck the box is on the screen a while before it takes keys.
answer_box() {  # limit
    local end=$(($(date +%s) + $1)) box seen=
    while [ "$(date +%s)" -lt $end ]; do
        box=$(xdotool search --name '^Vazozo1$' 2>/dev/null | head -1)
        [ -n "$box" ] && seen=1 && e2e_key "$box" Return
        [ -n "$seen" ] && [ -z "$box" ] && return 0
        sleep 2
    done
    return 1
}

echo "A recording under memcheck"
xml=$E2E_DIR/memcheck.xml
app_start "$E2E_DIR/app.log" "${memcheck[@]}" --xml-file="$xml" || exit 1
ms=$(app_probe 60)
e2e_check "the window takes clicks ($ms ms)" test $? -eq 0
app_record
e2e_check "Record opens two streams" app_wait_streams 3 20
sleep 4
app_stop
e2e_check "Stop: buttons idle" app_wait_buttons idle 20
e2e_check "nothing of ours left on the server" app_wait_streams 0 20
app_close 120
e2e_check "the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
e2e_check "memcheck wrote its report" test -s "$xml"
e2e_check "no memcheck error in our code" check_report "$xml"

# The device failure paths: no capture device, then no playback device
# (capture opens and is closed again, and its close handler unprepares
# headers no Record has filled). PipeWire would move a stream aimed at a
# device that does not exist to the default one, unless told not to.
no_reconnect=()
[ "$LARKSPAN_SOUND_SERVER" = pipewire ] && no_reconnect=(PULSE_PROP=node.dont-reconnect=true)
for missing in PULSE_SOURCE PULSE_SINK; do
    echo "Record with no such device as $missing, under memcheck"
    xml=$E2E_DIR/memcheck-$missing.xml
    app_start "$E2E_DIR/app-$missing.log" env "$missing=larkspan-no-such-device" "${no_reconnect[@]}" \
        "${memcheck[@]}" --xml-file="$xml" || exit 1
    ms=$(app_probe 60)
    e2e_check "the window takes clicks ($ms ms)" test $? -eq 0
    app_record
    e2e_check "the device message box appears and is answered" answer_box 60
    app_wait_exit 120
    e2e_check "then the program ends with 0 (got $APP_STATUS)" test "$APP_STATUS" = 0
    e2e_check "memcheck wrote its report" test -s "$xml"
    e2e_check "no memcheck error at all" check_report "$xml" all
done

e2e_result "valgrind e2e"

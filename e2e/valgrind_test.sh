#!/usr/bin/env bash
# One full recording of the Linux build under valgrind's memcheck: start,
# Record, a few seconds of pass-through, Stop, close. Fails on any error,
# definite leak included, with a frame of our own sources in its stack.
# Reports from inside the libraries (Qt, fontconfig, libpulse, glib, X)
# are suppressed by tests/valgrind.supp, each with its reason; any other
# report that stays inside them is listed but does not fail the run.

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
[ -n "${LARKSPAN_PRIVATE_ROOT:-}" ] || exec bash "$(dirname "$0")/../scripts/private_root.sh" bash "$0" "$@"
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
source "$here/lib.sh"
source "$here/app_lib.sh"
trap e2e_cleanup EXIT
[ -x "$APP" ] || { echo "no program at $APP"; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 1; }

e2e_display || exit 1
e2e_sound_server || exit 1

xml=$E2E_DIR/memcheck.xml
APP_WAIT=120  # the window takes a while under valgrind
app_start "$E2E_DIR/app.log" valgrind --tool=memcheck --xml=yes --xml-file="$xml" \
    --suppressions="$root/tests/valgrind.supp" --gen-suppressions=all --child-silent-after-fork=yes \
    --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --track-origins=yes --num-callers=40 || exit 1

echo "A recording under memcheck"
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

python3 - "$xml" "$root" <<'EOF'
import os
import sys
import xml.etree.ElementTree as ET

path, root = sys.argv[1], sys.argv[2]
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
sys.exit(1 if failing else 0)
EOF
e2e_check "no memcheck error in our code" test $? -eq 0
e2e_check "memcheck wrote its report" test -s "$xml"

[ $E2E_FAILS -eq 0 ] && echo "valgrind e2e: all passed" || echo "valgrind e2e: $E2E_FAILS failed"
exit $((E2E_FAILS > 0))

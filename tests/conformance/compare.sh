#!/usr/bin/env bash
# Runs the wave conformance probe twice on one virtual display and one
# private sound server: the Windows build under Wine, and the Linux build
# on the layer in port/. Fails when their answers differ, apart from the
# known Wine differences listed below, where the layer must give the
# documented Windows answer instead.
#
#   compare.sh                    build outputs from build-win/ and build/
#   compare.sh WINE.txt LINUX.txt compare two saved outputs only

# Run alone, it runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
source "$(dirname "$0")/../../e2e/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

# Each known difference: the lines Wine prints, the lines Windows gives
# instead (and the layer must print), and why.
known_differences() {
    cat <<'KNOWN'
=== a 12-bit PCM format query
Wine's wave mapper answers yes. PCM in WAVEFORMATEX is 8 or 16 bits a
sample, and waveInOpen/waveOutOpen answer WAVERR_BADFORMAT for a format the
device cannot open.
--- wine
  waveInOpen query 12-bit = 0 MMSYSERR_NOERROR
  waveOutOpen query 12-bit = 0 MMSYSERR_NOERROR
--- windows
  waveInOpen query 12-bit = 32 WAVERR_BADFORMAT
  waveOutOpen query 12-bit = 32 WAVERR_BADFORMAT
=== waveInClose with a block queued
Wine closes the device and leaves the block marked queued. Windows
documents that the close fails with WAVERR_STILLPLAYING while blocks sent
with waveInAddBuffer have not come back; the device stays open, so the
reset, unprepare and close that follow succeed.
--- wine
  waveInClose = 0 MMSYSERR_NOERROR
  notice MM_WIM_CLOSE in 0
  flags in1=PREPARED|DONE in2=PREPARED|INQUEUE in-long=DONE
step 24: capture: reset
  waveInReset = 5 MMSYSERR_INVALHANDLE
step 25: capture: unprepare and close
  waveInUnprepareHeader in2 = 33 WAVERR_STILLPLAYING
  flags in1=PREPARED|DONE in2=PREPARED|INQUEUE in-long=DONE
  waveInClose = 5 MMSYSERR_INVALHANDLE
--- windows
  waveInClose = 33 WAVERR_STILLPLAYING
  flags in1=PREPARED|DONE in2=PREPARED|INQUEUE in-long=DONE
step 24: capture: reset
  waveInReset = 0 MMSYSERR_NOERROR
  notice MM_WIM_DATA in in2 flags=PREPARED|DONE recorded=0
step 25: capture: unprepare and close
  waveInUnprepareHeader in2 = 0 MMSYSERR_NOERROR
  flags in1=PREPARED|DONE in2=DONE in-long=DONE
  waveInClose = 0 MMSYSERR_NOERROR
  notice MM_WIM_CLOSE in 0
=== waveOutClose with a block queued
As for capture: Windows documents that the close fails with
WAVERR_STILLPLAYING while a written block has not finished playing, and
keeps the device; Wine closes it with the block still marked queued.
--- wine
  waveOutClose = 0 MMSYSERR_NOERROR
  notice MM_WOM_CLOSE out 0
  flags out1=PREPARED|DONE out2=PREPARED|INQUEUE out-short=DONE
step 28: playback: reset
  waveOutReset = 5 MMSYSERR_INVALHANDLE
step 29: playback: unprepare and close
  waveOutUnprepareHeader out2 = 33 WAVERR_STILLPLAYING
  flags out1=PREPARED|DONE out2=PREPARED|INQUEUE out-short=DONE
  waveOutClose = 5 MMSYSERR_INVALHANDLE
--- windows
  waveOutClose = 33 WAVERR_STILLPLAYING
  flags out1=PREPARED|DONE out2=PREPARED|INQUEUE out-short=DONE
step 28: playback: reset
  waveOutReset = 0 MMSYSERR_NOERROR
  notice MM_WOM_DONE out out2 flags=PREPARED|DONE
step 29: playback: unprepare and close
  waveOutUnprepareHeader out2 = 0 MMSYSERR_NOERROR
  flags out1=PREPARED|DONE out2=DONE out-short=DONE
  waveOutClose = 0 MMSYSERR_NOERROR
  notice MM_WOM_CLOSE out 0
KNOWN
}

# Wine's output with each known difference put the Windows way, then
# compared with the layer's. A known difference Wine no longer shows is
# only reported; the layer is held to the Windows answer either way.
compare() {  # wine.txt linux.txt
    python3 - "$1" "$2" <(known_differences) <<'PY'
import difflib, re, sys
wine = open(sys.argv[1]).read().splitlines()
linux = open(sys.argv[2]).read().splitlines()
entries = re.split(r'^=== ', open(sys.argv[3]).read(), flags=re.M)[1:]
status = 0
for entry in entries:
    title, rest = entry.split('\n', 1)
    reason, rest = rest.split('--- wine\n', 1)
    ours, windows = rest.split('--- windows\n', 1)
    ours, windows = ours.splitlines(), windows.splitlines()
    def find(lines, block):
        return next((i for i in range(len(lines) - len(block) + 1) if lines[i:i + len(block)] == block), None)
    at = find(wine, ours)
    if at is None:
        print('  note  known Wine difference not seen: %s' % title)
    else:
        wine[at:at + len(ours)] = windows
        print('  known Wine difference: %s\n        %s' % (title, ' '.join(reason.split())))
    if find(linux, windows) is None:
        print('  FAIL  the layer does not give the Windows answer for: %s' % title)
        status = 1
if not linux or linux[-1] != 'end' or not wine or wine[-1] != 'end':
    print('  FAIL  a run did not reach its end')
    status = 1
diff = list(difflib.unified_diff(wine, linux, 'wine (known differences put the Windows way)', 'linux layer',
                                 lineterm=''))
if diff:
    print('  FAIL  the outputs differ:')
    print('\n'.join('        ' + line for line in diff))
    status = 1
else:
    print('  ok    same answers, %d lines' % len(linux))
sys.exit(status)
PY
}

if [ $# -eq 2 ]; then
    compare "$1" "$2"
    exit
fi

win_probe=${CONFORMANCE_WIN:-$root/build-win/wave_conformance.exe}
linux_probe=${CONFORMANCE_LINUX:-$root/build/wave_conformance}
for p in "$win_probe" "$linux_probe"; do
    [ -f "$p" ] || { echo "no probe at $p (build it first)"; exit 1; }
done
source "$root/e2e/wine_lib.sh"
e2e_open display sound
wine_prefix || exit 1

status=0
timeout 60 "$WINE" "$win_probe" 2>"$E2E_DIR/wine.err" | tr -d '\r' >"$E2E_DIR/wine.txt"
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "  FAIL  the probe under Wine failed; see $E2E_DIR/wine.err"; status=1; }
timeout 60 "$linux_probe" >"$E2E_DIR/linux.txt" 2>"$E2E_DIR/linux.err"
[ $? -eq 0 ] || { echo "  FAIL  the probe on the layer failed; see $E2E_DIR/linux.err"; status=1; }
compare "$E2E_DIR/wine.txt" "$E2E_DIR/linux.txt" || status=1
echo "  outputs in $E2E_DIR"
exit $status

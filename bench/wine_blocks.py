#!/usr/bin/env python3
"""Lost and doubled blocks of a long run, and the phase between the loop's
capture and playback completions.

  wine_blocks.py noise                 endless 8-bit noise for the rig's
                                       source (e2e/rig.py), left channel
                                       only, low bytes zero
  wine_blocks.py sound RECORDING.raw   from a recording of the rig's bus
  wine_blocks.py trace WINE.log        from a WINEDEBUG=+timestamp,+winmm log

sound: the right channel (what came out) is the left (what went in) some
delay later, byte for byte in the 8-bit format the program moves. The delay
is found every 64 samples; a step of one block up is a block played twice, a
step down a block never played; any other step is, mostly, a gap the device
filled in playback. The delay is 2 blocks plus the phase between
a capture completion and the next playback completion, plus whatever the
devices add.

trace: the program re-queues a capture block in every capture-done handler
(waveInAddBuffer) and a playback block in every playback-done handler
(waveOutWrite). Between two playback refills exactly one capture block
should have come in: none means the same block is played twice, two means one
is never played. The phase is the time from the latest capture-done to each
playback-done, in the trace's millisecond timestamps.

Prints "name value unit" lines; other lines start with "# ".
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e'))
from rig import BLOCK, BLOCK_MS, RATE  # noqa: E402
import rig  # noqa: E402

KEY = 32  # bytes compared; noise makes 32 of them unique over hours
STEP = 64
MAX_DELAY = 6 * BLOCK


def fig(name, value, unit):
    print('%s %s %s' % (name, value, unit))


def note(text):
    print('# ' + text)


def noise():
    # A fixed LCG, so every run hears the same sound.
    state = 12345
    out = sys.stdout.buffer
    chunk = rig.silence(0.1)
    while True:
        for i in range(0, len(chunk), 2):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            value = (state >> 16) & 0xFF  # the left sample's high byte
            chunk[i] = (value - 256 if value > 127 else value) << 8
        try:
            out.write(rig.raw(chunk))
        except BrokenPipeError:
            return


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, int(p / 100.0 * len(s)))]


def sound(path):
    left, right = rig.eight_bit(path)
    n = len(right)
    delays = []  # (sample, delay) where the output was found in the input
    unmatched = 0
    d = None
    for t in range(MAX_DELAY, n - KEY, STEP):
        key = right[t:t + KEY]
        if key.count(key[:1]) == KEY:  # silence or the device's padding
            unmatched += 1
            continue
        if d is not None and left[t - d:t - d + KEY] == key:
            delays.append((t, d))
            continue
        pos = left.rfind(key, t - MAX_DELAY, t + KEY)
        if pos < 0:
            unmatched += 1
            d = None
            continue
        d = t - pos
        delays.append((t, d))
    if not delays:
        note('the output never repeats the input')
        fig('sound.matched_windows', 0, 'count')
        return
    doubled = lost = other = 0
    added = 0  # samples of delay the steps that are not whole blocks add up to
    steps = []
    for (t0, d0), (t1, d1) in zip(delays, delays[1:]):
        if d1 == d0:
            continue
        blocks = (d1 - d0) / float(BLOCK)
        steps.append('%.1f s: %+d samples' % (t1 / float(RATE), d1 - d0))
        if abs(blocks - round(blocks)) < 0.02 and round(blocks) != 0:
            if blocks > 0:
                doubled += int(round(blocks))
            else:
                lost += int(round(-blocks))
        else:
            other += 1
            added += d1 - d0
    seconds = (delays[-1][0] - delays[0][0]) / float(RATE)
    ms = [dd * 1000.0 / RATE for _, dd in delays]
    fig('sound.seconds_matched', '%.1f' % seconds, 's')
    fig('sound.blocks_played', '%d' % (seconds * RATE / BLOCK), 'count')
    fig('sound.unmatched_windows', unmatched, 'count')
    fig('sound.doubled_blocks', doubled, 'count')
    fig('sound.lost_blocks', lost, 'count')
    fig('sound.other_delay_steps', other, 'count')
    # Mostly gaps the device filled in playback, each pushing what follows later.
    fig('sound.delay_added_by_other_steps', '%.1f' % (added * 1000.0 / RATE), 'ms')
    fig('sound.delay_min', '%.1f' % min(ms), 'ms')
    fig('sound.delay_median', '%.1f' % percentile(ms, 50), 'ms')
    fig('sound.delay_max', '%.1f' % max(ms), 'ms')
    spans = {}
    for _, dd in delays:
        spans[dd] = spans.get(dd, 0) + 1
    for dd, count in sorted(spans.items(), key=lambda e: -e[1])[:6]:
        note('delay %.1f ms (%.3f blocks) for %.1f%% of the time' %
             (dd * 1000.0 / RATE, dd / float(BLOCK), 100.0 * count / len(delays)))
    for s in steps[:40]:
        note('delay step at ' + s)


TRACE = re.compile(r'^(\d+\.\d+):([0-9a-f]+):trace:winmm:(waveInAddBuffer|waveOutWrite|waveInReset) \(')


def trace(path):
    events = []
    for line in open(path, errors='replace'):
        m = TRACE.match(line)
        if m:
            events.append((float(m.group(1)) * 1000.0, m.group(3)))
    # The first two of each are the open handlers' queueing; every later
    # one is a completion handled. A reset ends the run.
    captures, plays, order = [], [], []
    seen = {'waveInAddBuffer': 0, 'waveOutWrite': 0}
    for at, name in events:
        if name == 'waveInReset':
            break
        seen[name] += 1
        if seen[name] <= 2:
            continue
        (captures if name == 'waveInAddBuffer' else plays).append(at)
        order.append((at, name))
    if not plays or not captures:
        note('no completions in the trace')
        fig('trace.playback_completions', 0, 'count')
        return
    doubled = lost = 0
    since = None  # capture completions since the last playback refill
    phases = []
    last_capture = None
    for at, name in order:
        if name == 'waveInAddBuffer':
            last_capture = at
            if since is not None:
                since += 1
            continue
        if last_capture is not None:
            phases.append((at - last_capture) % BLOCK_MS)
        if since is not None:
            if since == 0:
                doubled += 1
            elif since > 1:
                lost += since - 1
        since = 0
    fig('trace.capture_completions', len(captures), 'count')
    fig('trace.playback_completions', len(plays), 'count')
    fig('trace.doubled_blocks', doubled, 'count')
    fig('trace.lost_blocks', lost, 'count')
    fig('trace.phase_min', '%.1f' % min(phases), 'ms')
    fig('trace.phase_median', '%.1f' % percentile(phases, 50), 'ms')
    fig('trace.phase_max', '%.1f' % max(phases), 'ms')
    near = sum(1 for p in phases if p < 10 or p > BLOCK_MS - 10)
    fig('trace.phase_within_10ms_of_a_capture', near, 'count')
    intervals = [b - a for a, b in zip(captures, captures[1:])]
    fig('trace.capture_interval_median', '%.1f' % percentile(intervals, 50), 'ms')
    fig('trace.capture_interval_max', '%.1f' % max(intervals), 'ms')
    intervals = [b - a for a, b in zip(plays, plays[1:])]
    fig('trace.playback_interval_median', '%.1f' % percentile(intervals, 50), 'ms')
    fig('trace.playback_interval_max', '%.1f' % max(intervals), 'ms')
    # The phase over the run, a minute at a time: does it drift or jitter?
    start = order[0][0]
    minute = {}
    last_capture = None
    for at, name in order:
        if name == 'waveInAddBuffer':
            last_capture = at
        elif last_capture is not None:
            minute.setdefault(int((at - start) / 60000), []).append((at - last_capture) % BLOCK_MS)
    for m in sorted(minute):
        p = minute[m]
        note('minute %d: phase min %.1f, median %.1f, max %.1f ms over %d refills' %
             (m, min(p), percentile(p, 50), max(p), len(p)))


def main():
    if sys.argv[1:] == ['noise']:
        noise()
    elif len(sys.argv) == 3 and sys.argv[1] == 'sound':
        sound(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == 'trace':
        trace(sys.argv[2])
    else:
        sys.exit(__doc__)


main()

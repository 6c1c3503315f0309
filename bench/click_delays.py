#!/usr/bin/env python3
"""A click train for the rig's source, and the delay of every click in a
recording of the rig's bus.

  click_delays.py make COUNT > clicks.raw
      0.5 s of silence, COUNT clicks one second apart, 1.5 s of silence:
      in the rig's format (e2e/rig.py), clicks on the left channel only. A click
      is 2 ms at +16384, positive, so Wine's underrun padding (zero bytes in
      8-bit, full scale negative) is never taken for one.

  click_delays.py analyze RECORDING.raw NAME [blocks]
      The rig's recording: left is what went in, right is what came out. Prints "NAME.figure value unit" lines. An input
      click heard no time between 50 and 950 ms later is a dropped block; one
      heard more than once, a repeated block (its copies come a block apart).
      With "blocks" the delay is also given in blocks and over two blocks.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e'))
from rig import BLOCK_MS, RATE  # noqa: E402
import rig  # noqa: E402

CLICK = 16384
THRESHOLD = 8000


def make(count):
    second = rig.silence(1)
    for i in range(RATE * 2 // 1000):
        second[2 * i] = CLICK
    samples = rig.silence(0.5) + second * count + rig.silence(1.5)
    sys.stdout.buffer.write(rig.raw(samples))


def onsets(channel, refractory):
    """Sample indexes where the channel rises over the threshold, at least
    `refractory` samples after the previous one."""
    found = []
    below = True
    for i, v in enumerate(channel):
        if v > THRESHOLD:
            if below and (not found or i - found[-1] >= refractory):
                found.append(i)
            below = False
        else:
            below = True
    return found


def analyze(path, name, blocks):
    samples = rig.read(path)
    left, right = samples[0::2], samples[1::2]
    went_in = onsets(left, RATE // 2)
    came_out = onsets(right, RATE * 30 // 1000)

    lo, hi = RATE * 50 // 1000, RATE * 950 // 1000
    heard = [[] for _ in went_in]
    stray = 0
    j = 0
    for o in came_out:
        while j + 1 < len(went_in) and went_in[j + 1] <= o - lo:
            j += 1
        if went_in and lo <= o - went_in[j] <= hi:
            heard[j].append(o)
        else:
            stray += 1
    delays = sorted((h[0] - i) * 1000.0 / RATE for i, h in zip(went_in, heard) if h)
    dropped = sum(1 for h in heard if not h)
    repeated = sum(len(h) - 1 for h in heard if len(h) > 1)

    def fig(what, value, unit):
        print('%s.%s %s %s' % (name, what, value, unit))

    fig('clicks_in', len(went_in), 'count')
    fig('clicks_heard', len(delays), 'count')
    fig('dropped_blocks', dropped, 'count')
    fig('repeated_blocks', repeated, 'count')
    fig('stray_clicks', stray, 'count')
    if not delays:
        return
    median = delays[len(delays) // 2] if len(delays) % 2 else (delays[len(delays) // 2 - 1] + delays[len(delays) // 2]) / 2
    fig('delay_median', '%.1f' % median, 'ms')
    fig('delay_min', '%.1f' % delays[0], 'ms')
    fig('delay_max', '%.1f' % delays[-1], 'ms')
    if not blocks:
        return
    fig('delay_median_blocks', '%.3f' % (median / BLOCK_MS), 'blocks')
    fig('delay_over_2_blocks', '%.1f' % (median - 2 * BLOCK_MS), 'ms')


def main():
    if len(sys.argv) == 3 and sys.argv[1] == 'make':
        make(int(sys.argv[2]))
    elif len(sys.argv) in (4, 5) and sys.argv[1] == 'analyze' and sys.argv[4:5] in ([], ['blocks']):
        analyze(sys.argv[2], sys.argv[3], len(sys.argv) > 4)
    else:
        sys.exit(__doc__)


main()

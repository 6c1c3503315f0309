#!/usr/bin/env python3
"""A click train for the rig, and what came out of it.

  clicks.py make SECONDS OUT.raw   s16le stereo at 11025 Hz: clicks on the
                                   left channel, the right one silent
  clicks.py analyze BUS.raw        the rig's recording (left: what went in,
                                   right: what came out)

A click comes every 441 samples, one sample high; its height, (id + 2) * 512
with id counting 0..31, says which one it is, so an output click can be told
from its neighbours, and an 8-bit path keeps it exact. A block the program
loses is a run of clicks never heard; a block it plays twice is a run heard
twice.

analyze prints the counts and the delay, and exits 1 unless every click
between the first and the last one heard came out exactly once, every
output click matches one that went in, and the delay never changed by more
than one sample."""
import array
import sys

RATE = 11025
SPACING = 441
IDS = 32
STEP = 512


def make(seconds, path):
    n = int(seconds * RATE)
    frames = array.array('h', bytes(4 * n))
    for k, at in enumerate(range(SPACING // 2, n, SPACING)):
        frames[2 * at] = (k % IDS + 2) * STEP
    with open(path, 'wb') as f:
        f.write(frames.tobytes())


def find(channel):
    """(position, id) of every click."""
    return [(i, round(v / STEP) - 2) for i, v in enumerate(channel) if abs(v) > STEP * 3 // 2]


def analyze(path):
    frames = array.array('h')
    with open(path, 'rb') as f:
        data = f.read()
    frames.frombytes(data[:len(data) // 4 * 4])
    went_in, came_out = find(frames[0::2]), find(frames[1::2])
    heard = [0] * len(went_in)
    delays = []
    unmatched = 0
    # The input click of the same id between 10 ms and 1.25 s earlier: the
    # ids repeat every 1.28 s, so there is at most one.
    lo_gap, hi_gap = RATE // 100, RATE * 125 // 100
    j = 0
    first = last = None
    for at, cid in came_out:
        while j < len(went_in) and went_in[j][0] < at - hi_gap:
            j += 1
        k = j
        while k < len(went_in) and went_in[k][0] <= at - lo_gap and went_in[k][1] != cid:
            k += 1
        if k == len(went_in) or went_in[k][0] > at - lo_gap:
            unmatched += 1
            continue
        heard[k] += 1
        if heard[k] == 1:
            delays.append(at - went_in[k][0])
        first = k if first is None else min(first, k)
        last = k if last is None else max(last, k)
    span = heard[first:last + 1] if first is not None else []
    lost = sum(1 for h in span if h == 0)
    twice = sum(1 for h in span if h > 1)
    print('recording %.1f s; clicks in %d, out %d, unmatched %d' %
          (len(frames) / 2 / RATE, len(went_in), len(came_out), unmatched))
    if delays:
        print('delay %.4f..%.4f s; heard %d clicks over %.1f s' %
              (min(delays) / RATE, max(delays) / RATE, len(span) - lost, len(span) * SPACING / RATE))
    print('lost %d, heard twice %d' % (lost, twice))
    ok = delays and unmatched == 0 and lost == 0 and twice == 0 and max(delays) - min(delays) <= 1
    return 0 if ok else 1


def main():
    if len(sys.argv) == 4 and sys.argv[1] == 'make':
        make(float(sys.argv[2]), sys.argv[3])
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == 'analyze':
        return analyze(sys.argv[2])
    print(__doc__, file=sys.stderr)
    return 2


sys.exit(main())

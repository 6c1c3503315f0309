#!/usr/bin/env python3
"""A click train for the rig, and what came out of it.

  clicks.py make SECONDS OUT.raw   in the rig's format (rig.py): clicks on
                                   the left channel, the right one silent
  clicks.py analyze BUS.raw        the rig's recording (left: what went in,
                                   right: what came out)
  clicks.py figures BUS.raw        the same as "name value" lines, for the
                                   benchmarks
  clicks.py gap BUS.raw            a recording through a fault that cut the
                                   program's input off for a while
  clicks.py selftest               analyze made-up recordings, clean and with
                                   planted faults, and check the verdicts

A click comes every 441 samples (40 ms), one sample high; every 32nd is a
marker twice as high. On PipeWire the bus runs through a 48 kHz graph, so a
click comes back smeared over a few samples and scaled, by a factor that is
constant within a run: clicks are found as the loudest sample within 150
samples, and markers as those well above the usual height.

The markers give the delay (they are 1.28 s apart, more than any delay the
loop makes); from there every output click must be the input click one
delay earlier. A block the program loses or plays twice moves everything
after it by a whole block (2048 samples), which is where the next click is
looked for; each such move is listed.

analyze prints the counts and the delay, and exits 1 unless every click
between the first and the last one heard came out exactly once, every
output click matches one that went in, and the delay never changed by more
than two samples, on every server."""
import bisect
import contextlib
import io
import sys

from rig import BLOCK, RATE
import rig

SPACING = 441
MARKER_EVERY = 32
HEIGHT = 8192
FLOOR = 1500  # quieter than any click that came through, louder than ringing of silence
REACH = 150   # a click is the loudest sample this far either side
MATCH = 3     # samples an output click may lie off its input click


def make(seconds, path):
    frames = rig.silence(seconds)
    for k, at in enumerate(range(SPACING // 2, len(frames) // 2, SPACING)):
        frames[2 * at] = HEIGHT * 2 if k % MARKER_EVERY == 0 else HEIGHT
    rig.write(path, frames)


def find(channel):
    """(position, is_marker) of every click."""
    loud = [i for i, v in enumerate(channel) if v > FLOOR or v < -FLOOR]
    peaks = []
    k = 0
    while k < len(loud):
        group_end = k
        while group_end + 1 < len(loud) and loud[group_end + 1] - loud[group_end] <= REACH:
            group_end += 1
        best = max(loud[k:group_end + 1], key=lambda i: abs(channel[i]))
        peaks.append((best, abs(channel[best])))
        k = group_end + 1
    if not peaks:
        return []
    usual = sorted(h for _, h in peaks)[len(peaks) // 2]
    return [(at, h > usual * 1.5) for at, h in peaks]


def marker_delay(markers_in, at):
    """The delay of an output marker at `at`, from the one input marker that
    can have made it, or None."""
    before = [p for p in markers_in if RATE // 20 <= at - p <= RATE * 125 // 100]
    return at - before[0] if len(before) == 1 else None


def analyze(path):
    return verdict(rig.read(path))[0]


def verdict(frames):
    """(exit status, blocks lost, blocks played twice, other moves, clicks lost)"""
    went_in, came_out = find(frames[0::2]), find(frames[1::2])
    print('recording %.1f s; clicks in %d, out %d' % (len(frames) / 2 / RATE, len(went_in), len(came_out)))
    positions = [at for at, _ in went_in]
    markers_in = [at for at, m in went_in if m]
    heard = [0] * len(went_in)
    delays = []
    moves = []  # (time, samples the output moved by; negative: later sound)
    unmatched = wrong_marker = 0
    delay = lost_from = None
    waiting = []  # output clicks since sync was lost, until a marker

    def match(at, delay):
        k = bisect.bisect_left(positions, at - delay - MATCH)
        return k if k < len(positions) and abs(positions[k] - (at - delay)) <= MATCH else None

    def hear(k, at, marker):
        nonlocal wrong_marker
        wrong_marker += went_in[k][1] != marker
        heard[k] += 1
        if heard[k] == 1:
            delays.append(at - positions[k])

    for at, marker in came_out:
        if delay is not None:
            for blocks in (0, 1, -1, 2, -2, 3, -3):
                k = match(at, delay + blocks * BLOCK)
                if k is not None:
                    break
            if k is not None:
                if blocks:
                    moves.append((at / RATE, blocks * BLOCK))
                delay = at - positions[k]
                hear(k, at, marker)
                continue
            waiting = []
            lost_from, delay = delay, None
            moves.append((at / RATE, None))
        # Out of step: wait for a marker to find the delay again.
        waiting.append((at, marker))
        if not marker:
            continue
        found = marker_delay(markers_in, at)
        if found is None:
            continue
        if moves and moves[-1][1] is None:
            if abs(found - lost_from) <= MATCH:
                moves.pop()  # a gap in the sound, not a move
            else:
                moves[-1] = (moves[-1][0], found - lost_from)
        for at2, marker2 in waiting:
            k = match(at2, found)
            if k is None:
                unmatched += 1
            else:
                hear(k, at2, marker2)
        waiting = []
        delay = found
    unmatched += len(waiting)
    played = [k for k, h in enumerate(heard) if h]
    span = heard[played[0]:played[-1] + 1] if played else []
    lost = sum(1 for h in span if h == 0)
    twice = sum(1 for h in span if h > 1)
    if delays:
        s = sorted(delays)
        print('delay %.1f ms median, %.1f min, %.1f max; heard %d clicks over %.1f s' %
              (s[len(s) // 2] * 1000 / RATE, s[0] * 1000 / RATE, s[-1] * 1000 / RATE, len(span) - lost,
               len(span) * SPACING / RATE))
    blocks_lost = sum(-m // BLOCK for _, m in moves if m is not None and m % BLOCK == 0 and m < 0)
    blocks_twice = sum(m // BLOCK for _, m in moves if m is not None and m % BLOCK == 0 and m > 0)
    other = [(t, m) for t, m in moves if m is None or m % BLOCK != 0]
    for when, m in moves[:10]:
        if m is None:
            print('at %.2f s the output lost step, and found no marker after it' % when)
        elif m % BLOCK == 0:
            print('at %.2f s the output moved by %d block(s): %s' %
                  (when, abs(m) // BLOCK, 'later sound, a block lost' if m < 0 else 'earlier sound, played again'))
        else:
            print('at %.2f s the output moved by %.1f ms, not a whole block' % (when, m * 1000 / RATE))
    print('blocks lost %d, played twice %d; other moves %d' % (blocks_lost, blocks_twice, len(other)))
    print('unmatched %d, markers out of place %d' % (unmatched, wrong_marker))
    print('lost %d, heard twice %d' % (lost, twice))
    silent, start = (0, 0), None
    for k, h in enumerate(span + [1]):
        if h == 0 and start is None:
            start = k
        elif h and start is not None:
            silent = max(silent, (start, k), key=lambda r: r[1] - r[0])
            start = None
    verdict.silent = [positions[min(played[0] + k, len(positions) - 1)] / RATE for k in silent] if played else [0, 0]
    verdict.delays, verdict.twice = delays, twice
    ok = delays and unmatched == 0 and wrong_marker == 0 and lost == 0 and twice == 0 and \
        not other and max(delays) - min(delays) <= 2
    median = s[len(s) // 2] * 1000 / RATE if delays else None
    verdict.figures = {
        'delay_median': '%.1f' % median if delays else 'none',
        'delay_min': '%.1f' % (s[0] * 1000 / RATE) if delays else 'none',
        'delay_max': '%.1f' % (s[-1] * 1000 / RATE) if delays else 'none',
        'blocks_lost': blocks_lost, 'blocks_played_twice': blocks_twice,
        'other_moves': len(other), 'clicks_lost': lost, 'clicks_heard_twice': twice, 'unmatched': unmatched,
    }
    return (0 if ok else 1), blocks_lost, blocks_twice, len(other), lost


# A server's quantum: PipeWire's at the desktop's 1024 frames at 48 kHz,
# 235.2 samples here. A move of one quantum reads as 235 or 236 whole
# samples (236 seen: a suspended source, 395.8 ms before and 374.4 after).
QUANTUM = -(-RATE * 1024 // 48000)


def gap(path, held=False):
    """The output may fall silent while the input is cut off, and may play
    once more the block its source stopped in, but nothing else twice; then
    the sound comes back at its delay, within a server's quantum (a
    PulseAudio source suspended for 2 s: 369.4 to 371.7, 368.9 to 370.3 and
    369.7 to 368.3 ms; its sink suspended for 2 s, whose held sound the
    program drops for a new stream where the sound would have been: from
    0.3 ms earlier to 0.9 ms later in 8 runs).
    `held`: the whole server stopped. On PulseAudio the sound came back 25
    to 35 ms later in five runs, and 101 ms earlier in a sixth. On PipeWire
    the stop halts the whole graph, the click feeder and the recorder with
    it, so the recording shows no gap in what went in while the program, on
    the system's clock, heard 2 s of nothing: there the sound came back from
    34 ms earlier to 67 ms later in eight runs; before the program dropped
    what the server held, from 186 ms earlier to 557 ms later, with up to 15
    clicks (three blocks' worth) heard twice, around the point where the
    graph went on. Up to three blocks later then, a block and two quanta
    earlier, and three blocks' clicks heard twice."""
    verdict(rig.read(path))
    d = verdict.delays
    if len(d) < 40:
        print('too few clicks came out')
        return 1
    before, after = sorted(d[:20])[10], sorted(d[-20:])[10]
    print('delay before %.1f ms, after %.1f ms; silent from %.2f s to %.2f s; %d clicks heard twice' %
          (before * 1000 / RATE, after * 1000 / RATE, verdict.silent[0], verdict.silent[1], verdict.twice))
    earlier, later, twice = (BLOCK + 2 * QUANTUM, 3 * BLOCK + QUANTUM, 3) if held else (QUANTUM, QUANTUM, 1)
    return 0 if -earlier <= after - before <= later and verdict.twice <= twice * (BLOCK // SPACING + 1) else 1


def selftest():
    """Made-up recordings: the input train, and an output that is the input
    one delay later, scaled and smeared as PipeWire's resampling does, with
    one fault planted at 2 s. Each must get its verdict."""
    seconds, delay, at = 5, 4500, 2 * RATE
    train = rig.silence(seconds)
    for k, t in enumerate(range(SPACING // 2, len(train) // 2, SPACING)):
        train[2 * t] = HEIGHT * 2 if k % MARKER_EVERY == 0 else HEIGHT
    left = train[0::2]

    def recording(source_of):
        frames = train[:]
        for t in range(len(left)):
            src = source_of(t)
            v = 0.0
            for tap, weight in ((-1, 0.3), (0, 0.79), (1, -0.2)):
                if 0 <= src + tap < len(left):
                    v += weight * left[src + tap]
            frames[2 * t + 1] = int(v)
        return frames

    cases = [
        ('clean', lambda t: t - delay, (0, 0, 0, 0, 0)),
        ('a block lost', lambda t: t - delay + (BLOCK if t >= at else 0), (1, 1, 0, 0, None)),
        ('a block played twice', lambda t: t - delay - (BLOCK if t >= at else 0), (1, 0, 1, 0, None)),
        ('5 ms dropped by the server', lambda t: t - delay + (55 if t >= at else 0), (1, 0, 0, 1, None)),
        ('a 30 ms gap', lambda t: -10**6 if at <= t < at + 330 else t - delay, (1, 0, 0, 0, 1)),
    ]
    failed = 0
    for name, source_of, want in cases:
        print('-- %s' % name)
        got = verdict(recording(source_of))
        if any(w is not None and w != g for w, g in zip(want, got)):
            print('SELFTEST FAILED: %s: got %s, want %s' % (name, got, want))
            failed += 1
    print('selftest: %s' % ('all verdicts right' if not failed else '%d wrong' % failed))
    return 1 if failed else 0


def main():
    if len(sys.argv) == 4 and sys.argv[1] == 'make':
        make(float(sys.argv[2]), sys.argv[3])
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == 'analyze':
        return analyze(sys.argv[2])
    if len(sys.argv) in (3, 4) and sys.argv[1] == 'gap':
        return gap(sys.argv[2], sys.argv[3:] == ['held'])
    if len(sys.argv) == 3 and sys.argv[1] == 'figures':
        with contextlib.redirect_stdout(io.StringIO()):
            verdict.figures = {}
            verdict(rig.read(sys.argv[2]))
        for name, value in verdict.figures.items():
            print(name, value)
        return 0
    if len(sys.argv) == 2 and sys.argv[1] == 'selftest':
        return selftest()
    print(__doc__, file=sys.stderr)
    return 2


sys.exit(main())

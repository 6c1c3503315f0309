#!/usr/bin/env python3
"""What a sound timeline (LARKSPAN_SOUND_TIMELINE) says about the loop.

  timeline_report.py TIMELINE

Each playback-done notification the dialog handles refills its block from
the latest capture, so between two of them exactly one capture-done
notification must have been handled: none means a block played twice, two
mean one lost. For each such place the steps around it are printed, in ms
from the start of the recording. Also printed: how late the dialog handled
notifications after they were posted, the phase between each capture-done
and the next playback-done post, the captured sound that found no block
queued, and the playback underflows."""
import sys

WIM_DATA, WOM_DONE = 0x3C0, 0x3BD


def main():
    lines = []
    for raw in open(sys.argv[1]):
        parts = raw.split()
        if len(parts) == 3:
            lines.append((int(parts[0]), parts[1], int(parts[2])))
    if not lines:
        print('empty timeline')
        return 1
    t0 = lines[0][0]
    posts = {'post_wim_data': [], 'post_wom_done': []}
    delivers = []
    for i, (t, event, value) in enumerate(lines):
        if event in posts:
            posts[event].append(t)
        elif event.startswith('reset_'):
            break
        elif event == 'deliver' and value in (WIM_DATA, WOM_DONE):
            delivers.append((i, t, value))
    # Dialog lateness: the n-th delivery of a kind against its n-th post.
    for name, kind in (('post_wim_data', WIM_DATA), ('post_wom_done', WOM_DONE)):
        ds = [t for _, t, v in delivers if v == kind]
        lags = sorted((d - p) / 1000 for d, p in zip(ds, posts[name]))
        if lags:
            print('%s: %d, dialog handled them %.1f ms later (median), %.1f max' %
                  (name, len(lags), lags[len(lags) // 2], lags[-1]))
    phases = []
    last_capture = None
    for t in sorted([(t, 'c') for t in posts['post_wim_data']] + [(t, 'p') for t in posts['post_wom_done']]):
        if t[1] == 'c':
            last_capture = t[0]
        elif last_capture is not None:
            phases.append((t[0] - last_capture) / 1000)
    if phases:
        s = sorted(phases)
        print('playback-done posted after the latest capture-done: median %.1f ms, min %.1f, max %.1f' %
              (s[len(s) // 2], s[0], s[-1]))
    captures = 0
    seen_done = False
    faults = 0
    for i, t, kind in delivers:
        if kind == WIM_DATA:
            captures += 1
            continue
        if seen_done and captures != 1:
            faults += 1
            print('\n%s at %.1f ms: %d capture blocks since the previous refill' %
                  ('block played twice' if captures == 0 else 'block lost', (t - t0) / 1000, captures))
            for t2, event, value in lines[max(0, i - 60):i + 5]:
                print('  %9.1f %-18s %d' % ((t2 - t0) / 1000, event, value))
        seen_done = True
        captures = 0
    lost = sum(v for _, e, v in lines if e == 'capture_lost')
    print('\ncaptured bytes that found no block queued: %d' % lost)
    print('underflows of the playback stream: %d' % sum(1 for _, e, _ in lines if e == 'underflow'))
    print('refills with a block lost or played twice: %d' % faults)
    return 0


sys.exit(main())

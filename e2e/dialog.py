#!/usr/bin/env python3
"""The Record dialog as res/record.rc lays it out, in pixels, as the dialog
manager places it: every size and place the end-to-end scripts and the
benchmarks use comes from here.

  dialog.py lines BX BY     for base units BX x BY: "style VALUE", "at X Y W H"
                            for the client area, then one line per control:
                            "control CLASS ID ENABLED LEFT TOP RIGHT BOTTOM LABEL"
  dialog.py shell BX BY     the same as shell assignments: DLG_BX, DLG_BY,
                            DLG_UNITS ("W x H" dialog units), DLG_LEFT, DLG_TOP,
                            DLG_WIDTH, DLG_HEIGHT, and per control (RECORD,
                            STOP, CONTACT) _LEFT, _TOP, _RIGHT, _BOTTOM and
                            its centre _X, _Y
  dialog.py shell --size WIDTH HEIGHT
                            the same, with the base units that make a client
                            area of WIDTH x HEIGHT pixels
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')


def muldiv(a, b, c):  # Win32 MulDiv: rounded half away from zero
    return (a * b * 2 + c) // (c * 2)


def template():
    names = {}
    for path in ('port/include/windows.h', 'res/resource.h'):
        for m in re.finditer(r'#define\s+(\w+)\s+\(?(-?(?:0x[0-9A-Fa-f]+|\d+))L?\)?', open(os.path.join(ROOT, path)).read()):
            names[m.group(1)] = int(m.group(2), 0)
    text = open(os.path.join(ROOT, 'res/record.rc')).read()
    place = tuple(map(int, re.search(r'DIALOG\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)', text).groups()))
    style = sum(names[f.strip()] for f in re.search(r'^STYLE\s+(.*)$', text, re.M).group(1).split('|'))
    controls = []
    for m in re.finditer(r'CONTROL\s+"([^"]*)",\s*(\w+),\s*"(\w+)",\s*([^,]+),\s*(\d+),\s*(\d+),\s*(\d+),\s*(\d+)', text):
        controls.append((m.group(2), names[m.group(2)], m.group(3), m.group(4), m.group(1), tuple(map(int, m.groups()[4:]))))
    return place, style, controls


def main():
    args = sys.argv[1:]
    place, style, controls = template()
    if len(args) == 4 and args[:2] == ['shell', '--size']:  # base units from the client size
        bx, by = muldiv(int(args[2]), 4, place[2]), muldiv(int(args[3]), 8, place[3])
    elif len(args) == 3 and args[0] in ('lines', 'shell'):
        bx, by = int(args[1]), int(args[2])
    else:
        sys.exit(__doc__)
    x, y, w, h = place
    px = lambda v: muldiv(v, bx, 4)
    py = lambda v: muldiv(v, by, 8)
    if args[0] == 'lines':
        print('style 0x%08x' % style)
        print('at %d %d %d %d' % (px(x), py(y), px(w), py(h)))
    else:
        print('DLG_BX=%d DLG_BY=%d DLG_UNITS="%d x %d"' % (bx, by, w, h))
        print('DLG_LEFT=%d DLG_TOP=%d DLG_WIDTH=%d DLG_HEIGHT=%d' % (px(x), py(y), px(w), py(h)))
    for name, ident, cls, flags, label, (cx, cy, cw, ch) in controls:
        left, top = px(cx), py(cy)
        right, bottom = left + px(cw), top + py(ch)
        if args[0] == 'lines':
            enabled = 0 if 'WS_DISABLED' in flags else 1
            print('control %s %d %d %d %d %d %d "%s"' % (cls, ident, enabled, left, top, right, bottom, label))
        else:
            n = name[len('IDC_'):]
            print('%s_LEFT=%d %s_TOP=%d %s_RIGHT=%d %s_BOTTOM=%d %s_X=%d %s_Y=%d' %
                  (n, left, n, top, n, right, n, bottom, n, px(cx + cw // 2), n, py(cy + ch // 2)))


main()

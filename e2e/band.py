#!/usr/bin/env python3
"""Finds the waveform band in a screenshot and measures it and its dots.

    band.py PNG [--title [--desktop PNG]]

The band is the widest run of black and green (#00FF00) pixels, or blends
of the two, in a row, from the first row that has it down as far as its
left and right edge pixels stay so (the controls may cover its middle).
Prints one line of figures, in device pixels:

    band X Y WIDTH HEIGHT green N box X Y WIDTH HEIGHT

where N counts the pure green pixels inside the band and the box bounds
them, relative to the band's top-left corner (all zero when there are
none). Exits 1 when the screenshot has no band. Where the empty desktop
(--desktop) is black, a run that reaches the screen's edge is desktop.

With --title, a second line, "title X Y WIDTH HEIGHT groups N button X Y
above WHAT text TEXT", for the title bar right above the band (rows whose
left pixel has the colour of the row above the band; as wide as its top
row): N groups of ink, apart where a gap is over a third of the bar's
height, BUTTON the last one's centre, TEXT the first, read with tesseract;
WHAT "desktop" where the row above the bar is as in --desktop's screenshot
(the empty desktop), else "other" ("?" without one)."""
import shutil
import subprocess
import sys

GREEN = b'\x00\xff\x00'


def read_ppm(path):
    data = subprocess.run(['convert', path, '-depth', '8', 'ppm:-'], check=True, capture_output=True).stdout
    fields, offset = [], 0
    while len(fields) < 4:  # P6 width height maxval, separated by whitespace
        end = offset
        while data[end:end + 1].isspace():
            end += 1
        start = end
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[start:end])
        offset = end
    width, height = int(fields[1]), int(fields[2])
    pixels = data[offset + 1:]
    return width, height, [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]


def in_band(row, x):
    """Black, green, or a blend of the two, as a compositor's scaling makes."""
    return row[3 * x] == 0 and row[3 * x + 2] == 0


def longest_run(row, width, black_desktop):
    best, start = (0, 0), None
    for x in range(width + 1):
        if x < width and in_band(row, x):
            start = x if start is None else start
        elif start is not None:
            if not (black_desktop and (start == 0 or x == width)):  # as KWin's is
                best = max(best, (x - start, -start))
            start = None
    return -best[1], best[0]


def main():
    width, height, rows = read_ppm(sys.argv[1])
    desktop = read_ppm(sys.argv[sys.argv.index('--desktop') + 1])[2] if '--desktop' in sys.argv else None
    runs = [longest_run(row, width, desktop is not None and in_band(desktop[0], 0)) for row in rows]
    widest = max(length for _, length in runs)
    if widest < 64:
        print('no band')
        sys.exit(1)
    top = next(y for y, (_, length) in enumerate(runs) if length == widest)
    left = runs[top][0]
    right = left + widest - 1
    bottom = top
    while bottom + 1 < height and in_band(rows[bottom + 1], left) and in_band(rows[bottom + 1], right):
        bottom += 1
    green, box = 0, None
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if rows[y][3 * x:3 * x + 3] == GREEN:
                green += 1
                box = (x, y, x, y) if box is None else (min(box[0], x), min(box[1], y), max(box[2], x),
                                                         max(box[3], y))
    gx, gy, gw, gh = (box[0] - left, box[1] - top, box[2] - box[0] + 1, box[3] - box[1] + 1) if box else (0,) * 4
    print('band %d %d %d %d green %d box %d %d %d %d' % (left, top, widest, bottom - top + 1, green, gx, gy, gw, gh))
    if '--title' in sys.argv:
        title(sys.argv[1], rows, left, widest, top, desktop)


def title(path, rows, left, width, bottom, desktop):
    def pixel(x, y):
        return rows[y][3 * x:3 * x + 3]
    top = bottom
    while top > 0 and pixel(left, top - 1) == pixel(left, bottom - 1):
        top -= 1
    height, background = bottom - top, pixel(left, bottom - 1)
    right = left  # the bar's own width: along its top row, which has no ink
    while pixel(right, top) == background:
        right += 1
    width = right - left
    groups, gap = [], height
    for x in range(width):
        if any(sum(abs(a - b) for a, b in zip(pixel(left + x, y), background)) > 96 for y in range(top, bottom)):
            if gap > height // 3:
                groups.append([x, x])
            groups[-1][1], gap = x, 0
        else:
            gap += 1
    text = '?'
    if groups and shutil.which('tesseract'):  # dark ink on light, about 100 pixels high
        image = subprocess.run(['convert', path, '-crop', '%dx%d+%d+%d' % (groups[0][1] + 4, height, left, top),
                                '-colorspace', 'gray', '-resize', '%d%%' % (10400 // height)]
                               + ['-negate'] * (sum(background) < 384) + ['png:-'], capture_output=True).stdout
        text = subprocess.run(['tesseract', '-', '-', '--psm', '7'], input=image,
                              capture_output=True).stdout.decode().strip()
    above = '?'
    if desktop and top > 0:
        # mutter dithers its background: two shots differed by 1 in a channel.
        above = 'desktop' if all(abs(a - b) <= 2 for a, b in zip(rows[top - 1][3 * left:3 * (left + width)],
                                                                  desktop[top - 1][3 * left:])) else 'other'
    button = left + (groups[-1][0] + groups[-1][1]) // 2 if groups else 0
    print('title %d %d %d %d groups %d button %d %d above %s text %s'
          % (left, top, width, height, len(groups), button, top + height // 2, above, text))


main()

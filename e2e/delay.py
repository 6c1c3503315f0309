#!/usr/bin/env python3
"""Delay between a tone going into the rig's source and coming out of its sink.

Reads the rig's recording (rig.py: left is what went in, right is what came
out) and prints the onset delay in seconds, or 'none' when the tone never
came out."""
import sys

import rig


def first_loud(samples, threshold, start=0):
    """Index of the first sample at or after start louder than threshold."""
    for i in range(start, len(samples)):
        if abs(samples[i]) > threshold:
            return i
    return None


def main():
    samples = rig.read(sys.argv[1])
    left, right = samples[0::2], samples[1::2]
    went_in = first_loud(left, 4000)
    came_out = first_loud(right, 4000, went_in) if went_in is not None else None
    print('none' if came_out is None else '%.4f' % ((came_out - went_in) / rig.RATE))


main()

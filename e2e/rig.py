"""The sound rig's format and recordings (e2e/sound_rig.sh), for the scripts
that make signals for it and read what it recorded: raw s16le stereo at
11025 samples a second, the left channel what went into the source, the
right one what came out of the sink."""
import array
import sys

RATE = 11025
BLOCK = 2048  # the program's block, in samples
BLOCK_MS = BLOCK * 1000.0 / RATE


def frames(data):
    """Raw bytes as interleaved samples, a partial frame at the end dropped."""
    samples = array.array('h')
    samples.frombytes(data[:len(data) // 4 * 4])
    if sys.byteorder != 'little':
        samples.byteswap()
    return samples


def read(path):
    """A recording's interleaved samples: [0::2] went in, [1::2] came out."""
    with open(path, 'rb') as f:
        return frames(f.read())


def silence(seconds):
    """Interleaved samples of silence, for a signal to be written into."""
    return array.array('h', bytes(4 * int(seconds * RATE)))


def eight_bit(path):
    """A recording as the program moved it, 8 bits a sample: the high byte of
    each sample, as bytes (what went in, what came out)."""
    with open(path, 'rb') as f:
        data = f.read()
    data = data[:len(data) // 4 * 4]
    return data[1::4], data[3::4]


def raw(samples):
    """Interleaved samples as the rig's raw bytes."""
    if sys.byteorder != 'little':
        samples = array.array('h', samples)
        samples.byteswap()
    return samples.tobytes()


def write(path, samples):
    with open(path, 'wb') as f:
        f.write(raw(samples))

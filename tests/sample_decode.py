#!/usr/bin/env python3
"""spihost decodes a QLM file, by name and from memory, into the .bmp computed here from the
QLM file's own bytes, independently of the module: the same check for every host we build
(natively, on qemu-i386 through the 32-bit DLL, under wine64).

usage: sample_decode.py SAMPLE OUT PLUGIN -- HOST [ARGS...]
  HOST and ARGS: the command that runs spihost (an emulator or wine in front of it, if any);
  OUT: the stem of the outputs, OUT.name.bmp and OUT.memory.bmp.
"""
import os
import struct
import subprocess
import sys


def expected_bmp(qlm):
    width, height = struct.unpack('>HH', qlm[:4])
    stride = (3 * width + 3) & ~3
    rows = []
    for y in range(height):
        row = bytearray(stride)
        for x in range(width):
            word, = struct.unpack_from('>H', qlm, 4 + 2 * (y * width + x))
            # Blue, green, red, each 5 bits widened by repeating its top bits.
            for i, field in enumerate(((word >> 1) & 31, word >> 11, (word >> 6) & 31)):
                row[3 * x + i] = (field << 3) | (field >> 2)
        rows.append(bytes(row))
    pixels = b''.join(reversed(rows))  # bottom-up
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    return b'BM' + struct.pack('<IHHI', 54 + len(pixels), 0, 0, 54) + info + pixels


def main(argv):
    if len(argv) < 6 or argv[4] != '--':
        sys.exit(__doc__.strip().splitlines()[-4])
    sample, out, plugin, command = argv[1], argv[2], argv[3], argv[5:]
    with open(sample, 'rb') as f:
        want = expected_bmp(f.read())
    for mode in ('name', 'memory'):
        path = '%s.%s.bmp' % (out, mode)
        if os.path.exists(path):
            os.remove(path)  # a stale output must not stand in for one that was not written
        extra = ['--memory'] if mode == 'memory' else []
        run = subprocess.run(command + ['decode', '-q', '--plugin', plugin, *extra, '-o', path,
                                        sample], capture_output=True, text=True)
        if run.returncode != 0:
            sys.exit('spihost decode (%s) exited %d: %s' % (mode, run.returncode, run.stderr))
        with open(path, 'rb') as f:
            got = f.read()
        if got != want:
            at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got),
                                                                                    len(want)))
            sys.exit('the decode by %s differs at byte %d (%d bytes, want %d)'
                     % (mode, at, len(got), len(want)))
        print('decode by %s: %d bytes, as computed from the QLM file' % (mode, len(got)))


if __name__ == '__main__':
    main(sys.argv)

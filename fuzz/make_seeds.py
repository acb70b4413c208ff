#!/usr/bin/env python3
"""Writes the fuzz seed corpus: pictures of odd sizes, the empty picture, a truncated one, an
over-limit header and two at 512 x 512, each once for every entry of the fuzz target (the last
four bytes choose it; see fuzz_exports.cpp).

usage: make_seeds.py SMALL_DIR FULL_SIZE_DIR

The full-size seeds go to a folder of their own, so that the default run keeps to small inputs
and a run of its own (-max_len=524292 -len_control=0) takes the large ones.
"""
import os
import struct
import sys


def qlm(width, height):
    words = ((x * 977 + y * 31) & 0xFFFF for y in range(height) for x in range(width))
    return struct.pack('>HH', width, height) + b''.join(struct.pack('>H', w) for w in words)


PICTURES = {
    'odd_3x5': qlm(3, 5),
    'odd_17x9': qlm(17, 9),
    'one_pixel': qlm(1, 1),
    'empty_0x0': qlm(0, 0),
    'zero_width': qlm(0, 7),
    'truncated_7x6': qlm(7, 6)[:-3],
    'over_limit_513': struct.pack('>HH', 513, 1) + bytes(1026),
}
FULL_SIZE = {'largest_512x512': qlm(512, 512)}
ENTRIES = ['picture_memory', 'picture_file', 'info_memory', 'info_file', 'supported_head',
           'supported_name', 'plugin_info']


def main():
    small, full = sys.argv[1], sys.argv[2]
    for name, data in {**PICTURES, **FULL_SIZE}.items():
        out = full if name in FULL_SIZE else small
        os.makedirs(out, exist_ok=True)
        for entry, what in enumerate(ENTRIES):
            if name in FULL_SIZE and entry > 1:
                continue
            for cancel in (0, 3):
                # flags' other bits, the cancelling row + 1, the length's delta, the entry
                control = bytes([0x20, cancel, 0, entry])
                with open(os.path.join(out, '%s.%s.%d' % (name, what, cancel)), 'wb') as f:
                    f.write(data + control)


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""The command-line host as a user runs it: good pictures, bad inputs, the QLM writer.

usage: host_cli_test.py SPIHOST MODULE
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import unittest

SPIHOST, MODULE = sys.argv[1], sys.argv[2]


def expand5(c):
    return (c << 3) | (c >> 2)


def nearest5(v):
    """The 5-bit code whose widened value is nearest the 8-bit v; a tie goes to the higher."""
    return max(range(32), key=lambda c: (-abs(v - expand5(c)), c))


def qlm(width, height, words=None):
    words = words if words is not None else [(x * 977 + y * 31) & 0xFFFF
                                             for y in range(height) for x in range(width)]
    return struct.pack('>HH', width, height) + b''.join(struct.pack('>H', w) for w in words)


def run(*args):
    return subprocess.run([SPIHOST, *args], capture_output=True, text=True, timeout=60)


class Host(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def path(self, name, content=None):
        path = os.path.join(self.dir.name, name)
        if content is not None:
            with open(path, 'wb') as f:
                f.write(content)
        return path

    def decode(self, source, *extra):
        out = self.path('out.bmp')
        return run('decode', '--plugin', MODULE, *extra, '-o', out, source), out

    def test_bad_inputs_give_their_message_and_code_and_no_output(self):
        good = qlm(3, 2)
        cases = [
            ('missing file', self.path('missing.qlm'), 6, 'cannot open file'),
            ('a directory', self.dir.name, 6, 'cannot open file'),
            ('an empty file', self.path('empty.qlm', b''), 2, 'not a QLM image'),
            ('a truncated QLM', self.path('short.qlm', good[:-1]), 2, 'not a QLM image'),
            ('a byte too many', self.path('long.qlm', good + b'\0'), 2, 'not a QLM image'),
            ('a header of 513', self.path('wide.qlm', struct.pack('>HH', 513, 1) + bytes(1026)),
             2, 'not a QLM image'),
            ('a PNG', self.path('picture.png', b'\x89PNG\r\n\x1a\n' + bytes(40)), 2,
             'not a QLM image'),
        ]
        for mode in ([], ['--memory']):
            for what, source, code, message in cases:
                with self.subTest(what=what, mode=mode):
                    result, out = self.decode(source, *mode)
                    self.assertEqual(result.returncode, code, result.stderr)
                    self.assertIn(message, result.stderr)
                    self.assertIn(source, result.stderr, 'the message names the file')
                    self.assertEqual(len(result.stderr.strip().splitlines()), 1)
                    self.assertFalse(os.path.exists(out))
        source = self.path('good.qlm', good)
        before = sorted(os.listdir(self.dir.name))
        readonly = os.path.join(self.dir.name, 'readonly')
        os.mkdir(readonly, 0o500)
        unwritable = [os.path.join(self.dir.name, 'no', 'such', 'folder', 'out.bmp')]
        if os.geteuid() != 0:  # root writes into read-only folders
            unwritable.append(os.path.join(readonly, 'out.bmp'))
        for out in unwritable:
            result = run('decode', '--plugin', MODULE, '-o', out, source)
            self.assertEqual(result.returncode, 9, result.stderr)
            self.assertIn('cannot write output', result.stderr)
            self.assertEqual(os.listdir(readonly), [])
        os.rmdir(readonly)
        self.assertEqual(sorted(os.listdir(self.dir.name)), before, 'no partial file left')

    def test_decode_writes_a_bmp_and_both_modes_agree(self):
        words = [0xF800, 0x07C0, 0x003E, 0x1234, 0x8421, 0xFFFF]
        source = self.path('three.qlm', qlm(3, 2, words))
        outputs = []
        for mode in ([], ['--memory']):
            result, out = self.decode(source, *mode)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn(out, result.stdout)
            with open(out, 'rb') as f:
                outputs.append(f.read())
        self.assertEqual(outputs[0], outputs[1])
        bmp = outputs[0]
        self.assertEqual(bmp[:2], b'BM')
        self.assertEqual(struct.unpack('<IHHI', bmp[2:14]), (len(bmp), 0, 0, 54))
        self.assertEqual(struct.unpack('<IiiHH', bmp[14:30]), (40, 3, 2, 1, 24))
        # Bottom-up: the file's second row comes first, each row padded to 12 bytes.
        self.assertEqual(bmp[54:], bytes([0xD6, 0x10, 0x42, 0x84, 0x84, 0x84, 0xFF, 0xFF, 0xFF,
                                          0, 0, 0, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF,
                                          0xFF, 0x00, 0x00, 0, 0, 0]))

    def test_default_output_is_next_to_the_input(self):
        source = self.path('pic.qlm', qlm(2, 2))
        result = run('decode', '--plugin', MODULE, source)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(self.path('pic.bmp')))

    def test_encode_then_decode_keeps_each_channels_nearest_five_bit_code(self):
        rng = random.Random(7)
        width, height = 37, 23
        rgb = bytes(rng.randrange(256) for _ in range(width * height * 3))
        ppm = self.path('in.ppm', b'P6\n# a comment\n%d %d\n255\n' % (width, height) + rgb)
        # The same picture as a bottom-up BMP with row padding, and as a top-down one.
        stride = (width * 3 + 3) & ~3
        rows = [b''.join(bytes([rgb[i + 2], rgb[i + 1], rgb[i]])
                         for i in range(y * width * 3, (y + 1) * width * 3, 3))
                + bytes(stride - width * 3) for y in range(height)]

        def bmp(top_down):
            pixels = b''.join(rows if top_down else rows[::-1])
            return (b'BM' + struct.pack('<IHHI', 54 + len(pixels), 0, 0, 54) +
                    struct.pack('<IiiHHIIiiII', 40, width, -height if top_down else height, 1, 24,
                                0, len(pixels), 0, 0, 0, 0) + pixels)

        inputs = [ppm, self.path('up.bmp', bmp(False)), self.path('down.bmp', bmp(True))]
        want = b''.join(
            b''.join(bytes([expand5(nearest5(rgb[i + 2])), expand5(nearest5(rgb[i + 1])),
                            expand5(nearest5(rgb[i]))])
                     for i in range(y * width * 3, (y + 1) * width * 3, 3))
            + bytes(stride - width * 3) for y in reversed(range(height)))
        for source in inputs:
            with self.subTest(source=os.path.basename(source)):
                encoded = self.path('enc.qlm')
                result = run('encode', '-o', encoded, source)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(encoded, 'rb') as f:
                    data = f.read()
                self.assertEqual(len(data), 4 + 2 * width * height)
                self.assertTrue(all(data[i] & 1 == 0 for i in range(5, len(data), 2)),
                                'bit 0 clear')
                result, out = self.decode(encoded)
                self.assertEqual(result.returncode, 0, result.stderr)
                with open(out, 'rb') as f:
                    self.assertEqual(f.read()[54:], want)

    def test_encode_refuses_what_qlm_cannot_hold(self):
        cases = [
            ('too wide', b'P6 513 1 255\n' + bytes(513 * 3), 'at most 512 x 512'),
            ('too tall', b'P6 1 513 255\n' + bytes(513 * 3), 'at most 512 x 512'),
            ('maxval 0', b'P6 1 1 0\n' + bytes(3), 'maxval 0 is out of range'),
            ('truncated', b'P6 4 4 255\n' + bytes(5), 'truncated'),
            ('not a picture', b'GIF89a' + bytes(20), 'a GIF picture'),
        ]
        for what, content, message in cases:
            with self.subTest(what=what):
                out = self.path('out.qlm')
                result = run('encode', '-o', out, self.path('in.ppm', content))
                self.assertEqual(result.returncode, 11, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(out))

    def test_info_check_help_and_version(self):
        result = run('info', '--plugin', MODULE)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines()[:4],
                         ['0: 00IN', '1: Quillmere to DIB filter', '2: *.QLM', '3: Quillmere'])
        good = self.path('good.qlm', qlm(320, 240))
        png = self.path('x.png', b'\x89PNG\r\n\x1a\n' + bytes(40))
        result = run('check', '--plugin', MODULE, good)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('320 x 240', result.stdout)
        result = run('check', '--plugin', MODULE, good, png)
        self.assertEqual(result.returncode, 2)
        self.assertIn('x.png: not supported', result.stdout)
        self.assertEqual(run('check', '--plugin', self.path('none.so'), good).returncode, 8)
        self.assertEqual(run('--version').returncode, 0)
        result = run('--help')
        self.assertEqual(result.returncode, 0)
        self.assertIn('exit codes', result.stdout)
        self.assertEqual(run('frobnicate').returncode, 10)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=1)

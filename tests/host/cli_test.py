#!/usr/bin/env python3
"""The command-line host as a user runs it: each command, its messages and its usage errors."""
import os
import random
import shutil
import struct
import subprocess
import threading

import hosttest as h
from hosttest import qlm, ppm, run


def expand5(c):
    return (c << 3) | (c >> 2)


def nearest5(v):
    """The 5-bit code whose widened value is nearest the 8-bit v; a tie goes to the higher."""
    return max(range(32), key=lambda c: (-abs(v - expand5(c)), c))


class Decode(h.HostCase):
    def decode(self, source, *extra, out=None):
        out = out or self.path('out.bmp')
        return run('decode', '--plugin', h.MODULE, *extra, '-o', out, source), out

    def test_bad_inputs_say_what_is_wrong_and_write_nothing(self):
        good = qlm(3, 2)
        os.mkdir(self.path('folder.qlm'))
        cases = [
            ('missing', 'missing.qlm', None, 6, 'No such file or directory'),
            ('a folder', 'folder.qlm', None, 6, 'Is a directory'),
            ('empty', 'empty.qlm', b'', 2,
             'file is 0 bytes; a QLM image has at least its 4-byte header'),
            ('truncated', 'short.qlm', good[:-1], 2,
             'file is 15 bytes; a 3 x 2 QLM image is 16 bytes (truncated)'),
            ('a byte too many', 'long.qlm', good + b'\0', 2,
             'file is 17 bytes; a 3 x 2 QLM image is 16 bytes (1 byte too many)'),
            ('too wide', 'wide.qlm', struct.pack('>HH', 600, 400) + bytes(8), 2,
             'header says 600 x 400; the largest is 512 x 512'),
            # Larger than any QLM file: measured by its header where that is one.
            ('larger, a QLM header', 'huge.qlm', qlm(1, 1) + bytes(600000), 2,
             'file is 600,006 bytes; a 1 x 1 QLM image is 6 bytes (600,000 bytes too many)'),
            ('512 x 512 and 10 bytes more', 'full.qlm', qlm(512, 512, [0] * 512 * 512) + bytes(10),
             2, 'file is 524,302 bytes; a 512 x 512 QLM image is 524,292 bytes (10 bytes too '
             'many)'),
            ('larger, no QLM header', 'wide-huge.qlm', struct.pack('>HH', 600, 400) +
             bytes(600000), 2,
             'file is 600,004 bytes; the largest QLM image (512 x 512) is 524,292 bytes'),
            ('a real-size truncation', 'cut.qlm', struct.pack('>HH', 512, 384) + bytes(996), 2,
             'file is 1,000 bytes; a 512 x 384 QLM image is 393,220 bytes (truncated)'),
        ]
        for mode in ([], ['--memory']):
            for what, name, content, code, message in cases:
                with self.subTest(what=what, mode=mode):
                    source = self.path(name, content)
                    result, out = self.decode(source, *mode)
                    self.assertFails(result, code, source, message)
                    self.assertFalse(os.path.exists(out))
                    # check says the same and exits the same, in the same mode
                    checked = run('check', '--plugin', h.MODULE, *mode, source)
                    self.assertEqual(checked.returncode, code, checked.stderr)
                    self.assertIn(message, checked.stdout + checked.stderr)
        self.assertEqual([n for n in self.listing() if 'spihost' in n], [], 'no partial file')

    def test_both_modes_and_every_input_way_give_the_same_bmp(self):
        words = [0xF800, 0x07C0, 0x003E, 0x1234, 0x8421, 0xFFFF]
        source = self.path('three.qlm', qlm(3, 2, words))
        result, out = self.decode(source)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('three.qlm: wrote %s (3 x 2, bmp)' % out, result.stdout)
        bmp = self.read(out)
        self.assertEqual(bmp[:2], b'BM')
        self.assertEqual(struct.unpack('<IHHI', bmp[2:14]), (len(bmp), 0, 0, 54))
        self.assertEqual(struct.unpack('<IiiHH', bmp[14:30]), (40, 3, 2, 1, 24))
        # Bottom-up: the file's second row comes first, each row padded to 12 bytes.
        self.assertEqual(bmp[54:], bytes([0xD6, 0x10, 0x42, 0x84, 0x84, 0x84, 0xFF, 0xFF, 0xFF,
                                          0, 0, 0, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF,
                                          0xFF, 0x00, 0x00, 0, 0, 0]))
        with open(source, 'rb') as stdin:
            piped = run('decode', '--plugin', h.MODULE, '-o', '-', '-', stdin=stdin, text=False)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertEqual(piped.stdout, bmp, '- in, - out')
        os.remove(out)
        result, out = self.decode(source, '--memory')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read(out), bmp)

    def test_the_output_format_follows_the_name_or_format_and_is_never_mislabelled(self):
        source = self.path('pic.qlm', qlm(4, 3))
        signatures = {'bmp': b'BM', 'ppm': b'P6\n4 3\n255\n', 'png': b'\x89PNG\r\n\x1a\n'}
        cases = [
            ([], 'a.bmp', 'bmp'), ([], 'b.PPM', 'ppm'), (['--format', 'ppm'], 'c', 'ppm'),
            ([], 'd', 'bmp'), (['--format', 'bmp'], 'e.bmp', 'bmp'),
            ([], 'f.png', 'png'), (['--format', 'png'], 'g', 'png'),
            (['--format', 'ppm'], '-', 'ppm'),
            # A name that is all extension is named by it.
            ([], '.png', 'png'), ([], '.PNM', 'ppm'), (['-f', '--format', 'png'], '.png', 'png'),
        ]
        for extra, name, format in cases:
            with self.subTest(name=name, extra=extra):
                out = name if name == '-' else self.path(name)
                result = run('decode', '--plugin', h.MODULE, *extra, '-o', out, source,
                             text=False)
                self.assertEqual(result.returncode, 0, result.stderr)
                data = result.stdout if name == '-' else self.read(out)
                self.assertTrue(data.startswith(signatures[format]))
        refusals = [
            ([], 'x.jpg', 'decode writes .bmp, .png, .ppm and .pnm files, not .jpg'),
            (['--format', 'png'], 'x.jpg', 'not .jpg'),
            (['--format', 'ppm'], 'y.bmp', 'the name says bmp but --format says ppm'),
            ([], '.bashrc', 'decode writes .bmp, .png, .ppm and .pnm files, not .bashrc'),
            (['--format', 'bmp'], '.bashrc', 'not .bashrc'),
            (['--format', 'bmp'], '.ppm', 'the name says ppm but --format says bmp'),
        ]
        for extra, name, message in refusals:
            with self.subTest(name=name, extra=extra):
                result = run('decode', '--plugin', h.MODULE, *extra, '-o', self.path(name),
                             source)
                self.assertFails(result, 10, message)
                self.assertFalse(os.path.exists(self.path(name)))

    def test_many_inputs_go_beside_themselves_or_into_one_folder(self):
        names = ['a.qlm', 'b.qlm']
        for name in names:
            self.path(name, qlm(2, 2))
        os.mkdir(self.path('sub'))
        self.path('sub/a.qlm', qlm(1, 1))
        result = run('decode', '--plugin', h.MODULE, *[self.path(n) for n in names])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(self.path('a.bmp')) and os.path.exists(self.path('b.bmp')))
        os.mkdir(self.path('out'))
        result = run('decode', '--plugin', h.MODULE, '-d', self.path('out'),
                     *[self.path(n) for n in names])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.listing(self.path('out')), ['a.bmp', 'b.bmp'])
        # Two inputs of one name: the second would replace what the first made, even forced.
        result = run('decode', '--plugin', h.MODULE, '-f', '-d', self.path('out'),
                     self.path('a.qlm'), self.path('sub/a.qlm'))
        self.assertFails(result, 9, 'a.bmp', 'written by this command already (from %s)'
                         % self.path('a.qlm'))
        # A failing input does not stop the others; the exit code is the first failure's.
        result = run('decode', '--plugin', h.MODULE, '-f', '-d', self.path('out'),
                     self.path('missing.qlm'), self.path('b.qlm'))
        self.assertFails(result, 6, 'missing.qlm')
        self.assertIn('b.qlm: wrote', result.stdout)

    def test_without_a_file_the_bundled_sample_is_decoded_into_the_current_folder(self):
        result = run('decode', '--plugin', h.MODULE, cwd=self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('logo.qlm: wrote logo.bmp (512 x 384, bmp)', result.stdout)
        self.assertEqual(len(self.read(self.path('logo.bmp'))), 54 + 512 * 384 * 3)

    def test_quiet_prints_nothing_but_errors(self):
        source = self.path('pic.qlm', qlm(2, 2))
        result = run('decode', '--plugin', h.MODULE, '-q', source)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, '', ''))


class Check(h.HostCase):
    def test_check_validates_as_decode_would_and_says_what_the_plug_in_answered(self):
        good = self.path('good.qlm', qlm(320, 240))
        cut = self.path('cut.qlm', qlm(320, 240)[:-2])
        png = self.path('x.png', b'\x89PNG\r\n\x1a\n' + bytes(40))
        result = run('check', '--plugin', h.MODULE, good)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), [
            good + ': a QLM image, 320 x 240; decode would read it',
            "  a viewer asking by the file's name would offer it to this plug-in "
            '(IsSupported: yes)',
            '  a viewer passing its first 2,048 bytes would offer it to this plug-in '
            '(IsSupported: yes)',
            '  the plug-in reads its header as 320 x 240, 24 bits per pixel (GetPictureInfo: 0)',
            '  the plug-in decodes it (GetPicture: 0)'])
        result = run('check', '--plugin', h.MODULE, cut, png, good)
        self.assertEqual(result.returncode, 2, 'the first failure decides')
        out = result.stdout
        self.assertIn(cut + ': not a QLM image; decode would refuse it: file is 153,602 bytes; '
                      'a 320 x 240 QLM image is 153,604 bytes (truncated)', out)
        self.assertIn('the plug-in refuses to decode it (GetPicture: 2, not a QLM image', out)
        self.assertIn(png + ': not a QLM image; decode would refuse it: header says 35,152 x '
                      '20,039; the largest is 512 x 512', out)
        self.assertIn('would not offer it to this plug-in (IsSupported: no)', out)
        with open(good, 'rb') as stdin:
            piped = run('check', '--plugin', h.MODULE, '-', stdin=stdin)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertIn('-: a QLM image, 320 x 240', piped.stdout)
        self.assertIn('(not asked by name: standard input has no name the plug-in can open)',
                      piped.stdout)
        fifo = self.path('in.fifo')
        os.mkfifo(fifo)
        writer = threading.Thread(target=lambda: open(fifo, 'wb').write(qlm(2, 2)), daemon=True)
        writer.start()
        result = run('check', '--plugin', h.MODULE, fifo)
        writer.join(30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('(not asked by name: its bytes can be read once only, so they are handed '
                      'over in memory)', result.stdout)
        result = run('check', '--plugin', h.MODULE, '--memory', good)
        self.assertIn('(not asked by name: the file is handed over in memory, as --memory asks)',
                      result.stdout)

    def test_check_says_what_a_viewer_is_told_of_short_and_too_large_files(self):
        cases = [  # what, bytes, lines after the verdict
            ('empty', b'', [
                "  a viewer asking by the file's name would not offer it to this plug-in "
                '(IsSupported: no)',
                '  a viewer passing its first 2,048 bytes (its 0 bytes, then zeros) would offer '
                'it to this plug-in (IsSupported: yes)',
                '  (with the zeros its header reads as 0 x 0; decoding then refuses the file on '
                'its size)',
                '  the plug-in cannot read its header (GetPictureInfo: 2, not a QLM image: '
                'header or size rejected)',
                '  the plug-in refuses to decode it (GetPicture: 2, not a QLM image: header or '
                'size rejected)']),
            ('one byte', b'\x02', [
                "  a viewer asking by the file's name would not offer it to this plug-in "
                '(IsSupported: no)',
                '  a viewer passing its first 2,048 bytes (its 1 byte, then zeros) would offer '
                'it to this plug-in (IsSupported: yes)',
                '  (with the zeros its header reads as 512 x 0; decoding then refuses the file '
                'on its size)']),
            ('a header, 10 bytes too many', qlm(512, 512, [0] * 512 * 512) + bytes(10), [
                "  a viewer asking by the file's name would offer it to this plug-in "
                '(IsSupported: yes)',
                '  a viewer passing its first 2,048 bytes would offer it to this plug-in '
                '(IsSupported: yes)',
                '  (not handed to GetPictureInfo or GetPicture: it is larger than any QLM '
                'image)']),
        ]
        for what, content, lines in cases:
            with self.subTest(what=what):
                source = self.path('f.qlm', content)
                result = run('check', '--plugin', h.MODULE, source)
                self.assertEqual((result.returncode, result.stderr), (2, ''))
                got = result.stdout.splitlines()
                self.assertTrue(got[0].startswith(source + ': not a QLM image; decode would '
                                                  'refuse it: file is '), got[0])
                self.assertEqual(got[1:1 + len(lines)], lines)


class Encode(h.HostCase):
    def test_encode_then_decode_gives_the_picture_back_from_ppm_and_both_bmp_orders(self):
        rng = random.Random(7)
        width, height = 37, 23
        rgb = bytes(rng.randrange(256) for _ in range(width * height * 3))
        stride = (width * 3 + 3) & ~3
        rows = [b''.join(bytes([rgb[i + 2], rgb[i + 1], rgb[i]])
                         for i in range(y * width * 3, (y + 1) * width * 3, 3))
                + bytes(stride - width * 3) for y in range(height)]

        def bmp(top_down):
            pixels = b''.join(rows if top_down else rows[::-1])
            return (b'BM' + struct.pack('<IHHI', 54 + len(pixels), 0, 0, 54) +
                    struct.pack('<IiiHHIIiiII', 40, width, -height if top_down else height, 1, 24,
                                0, len(pixels), 0, 0, 0, 0) + pixels)

        inputs = [self.path('in.ppm', ppm(width, height, rgb)), self.path('up.bmp', bmp(False)),
                  self.path('down.bmp', bmp(True))]
        for source in inputs:
            with self.subTest(source=os.path.basename(source)):
                encoded = self.path('enc.qlm')
                result = run('encode', '-f', '-o', encoded, source)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn('wrote %s (37 x 23)' % encoded, result.stdout)
                data = self.read(encoded)
                self.assertEqual(data[:4], struct.pack('>HH', width, height))
                self.assertEqual(len(data), 4 + 2 * width * height)
                decoded = run('decode', '--plugin', h.MODULE, '-f', '-o', self.path('dec.bmp'),
                              encoded)
                self.assertEqual(decoded.returncode, 0, decoded.stderr)
                pixels = self.read(self.path('dec.bmp'))[54:]
                back = bytes(pixels[(height - 1 - y) * stride + 3 * x + 2 - c]
                             for y in range(height) for x in range(width) for c in range(3))
                self.assertEqual(back, bytes(expand5(nearest5(v)) for v in rgb))

    def test_encode_refuses_what_qlm_cannot_hold_and_fit_scales_it_down(self):
        big = self.path('big.ppm', ppm(640, 480, bytes(640 * 480 * 3)))
        out = self.path('big.qlm')
        result = run('encode', big)
        self.assertFails(result, 11, big, 'picture is 640 x 480; a QLM image holds at most '
                         '512 x 512 (--fit scales it down)')
        self.assertFalse(os.path.exists(out))
        cases = [
            ('not a picture', b'GIF89a' + bytes(20), 'a GIF picture'),
            ('truncated', b'P6 4 4 255\n' + bytes(5), 'truncated'),
            ('maxval 0', b'P6 1 1 0\n' + bytes(3), 'maxval 0 is out of range'),
        ]
        for what, content, message in cases:
            with self.subTest(what=what):
                source = self.path('in.ppm', content)
                self.assertFails(run('encode', '-f', '-o', out, source), 11, source, message)
                self.assertFalse(os.path.exists(out))
        self.assertFails(run('encode', self.path('none.ppm')), 6, 'No such file or directory')
        for name in ('x.bmp', '.bmp', 'x.qlm.png'):
            with self.subTest(output=name):
                self.assertFails(run('encode', '-o', self.path(name), big), 10,
                                 'encode writes QLM files; name the output .qlm')
                self.assertFalse(os.path.exists(self.path(name)))
        for name in ('.qlm', 'no-extension', 'X.QLM'):
            with self.subTest(output=name):
                result = run('encode', '--fit', '-o', self.path(name), big)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(self.path(name))[:4], struct.pack('>HH', 512, 384))
        result = run('encode', '--fit', big)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('(512 x 384, scaled down from 640 x 480)', result.stdout)
        self.assertEqual(self.read(out)[:4], struct.pack('>HH', 512, 384))


class CommandLine(h.HostCase):
    def test_usage_errors_are_one_line_with_a_hint_and_exit_10(self):
        cases = [
            ([], 'spihost: no command'),
            (['frobnicate'], "unknown command 'frobnicate'"),
            (['--plugin', 'x', 'info'], 'the command comes first'),
            (['decode', '-o'], 'spihost decode: -o needs a value'),
            (['decode', '--plugin'], '--plugin needs a value'),
            (['decode', '-o', 'a.bmp', '-o', 'b.bmp', 'x.qlm'], '-o is given more than once'),
            (['info', '--memory'], '--memory does not apply to info (only to check, decode)'),
            (['check', '-o', 'x', 'f.qlm'], '-o does not apply to check'),
            (['encode', '--plugin', 'm', 'p.ppm'], '--plugin does not apply to encode'),
            (['encode', '--memory', 'p.ppm'], '--memory does not apply to encode'),
            (['info', '--fit'], '--fit does not apply to info (only to encode)'),
            (['decode', '--dither', 'a.qlm'], '--dither does not apply to decode'),
            (['check', '--format', 'png', 'a.qlm'], '--format does not apply to check'),
            (['decode', '--frob'], 'unknown option --frob'),
            (['--version', 'extra'], '--version takes nothing after it (extra)'),
            (['info', 'extra'], 'info takes no file (extra)'),
            (['check'], 'check needs at least one file'),
            (['encode'], 'encode needs at least one file'),
            (['decode', '-o', 'x.bmp', 'a.qlm', 'b.qlm'], '-o names one output, but there are '
             '2 inputs; use -d DIR'),
            (['decode', '-o', 'x.bmp', '-d', 'y', 'a.qlm'], 'give -o or -d, not both'),
            (['decode', '--format', 'gif', 'a.qlm'], "--format takes bmp, png or ppm, not 'gif'"),
            # An empty value, as "$OUT" gives when OUT is unset, is no value.
            (['decode', '-o', '', 'a.qlm'], '-o needs a value, not an empty one'),
            (['decode', '--output=', 'a.qlm'], '-o needs a value, not an empty one'),
            (['encode', '-d', '', 'a.ppm'], '-d needs a value, not an empty one'),
            (['decode', '--plugin', '', 'a.qlm'], '--plugin needs a value, not an empty one'),
            (['info', '--plugin='], '--plugin needs a value, not an empty one'),
            (['check', '--plugin', '', 'a.qlm'], '--plugin needs a value, not an empty one'),
            (['decode', '--format', '', 'a.qlm'], '--format needs a value, not an empty one'),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                result = run(*args, cwd=self.dir)
                self.assertFails(result, 10, message, "--help'")
                self.assertEqual(result.stdout, '')
        self.assertEqual(self.listing(), [], 'a usage error does nothing')

    def test_standard_input_needs_an_output_name(self):
        result = run('decode', '--plugin', h.MODULE, '-')
        self.assertFails(result, 10, 'standard input has no name to make an output name from')

    def test_double_dash_ends_the_options(self):
        self.path('-o.qlm', qlm(1, 1))
        result = run('decode', '--plugin', h.MODULE, '--', '-o.qlm', cwd=self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(self.path('-o.bmp')))

    def test_help_for_each_command_and_the_version(self):
        result = run('--help')
        self.assertEqual(result.returncode, 0)
        for text in ['spihost decode [--plugin MODULE]', 'exit codes', '130',
                     'one of: scalar, sse2, ssse3, avx2, avx512.']:
            self.assertIn(text, result.stdout)
        own = {'info': ['--plugin'], 'check': ['--plugin', '--memory'],
               'decode': ['--plugin', '--memory', '-o,--output', '-d,--dir', '-f,--force',
                          '-q,--quiet', '--format'],
               'encode': ['-o,--output', '-d,--dir', '-f,--force', '-q,--quiet', '--dither',
                          '--fit']}
        every = set(o for options in own.values() for o in options)
        for command, options in own.items():
            with self.subTest(command=command):
                result = run(command, '--help')
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn('Usage: spihost ' + command, result.stdout)
                listed = [line.split()[0] for line in result.stdout.splitlines()
                          if line.startswith('  -')]
                self.assertEqual(sorted(set(listed) & every), sorted(options))
        # Each command's help says only what applies to it.
        footers = {  # command: (said, not said)
            'info': (['one of: scalar, sse2, ssse3, avx2, avx512.', '  8    the plug-in'],
                     ['-f', 'standard input', '  2 ', '  6 ', '  11 ']),
            'check': (['A FILE named - is standard input', '  2    a FILE is not a QLM image'],
                      ['-f', 'info prints', '  11 ', '  12 ']),
            'decode': (['(its extension, .bmp, .png, .ppm or .pnm, chooses the format)',
                        'replaced only with -f', '  12 '], ['info prints', '  11 ', 'encode']),
            'encode': (['replaced only with -f', '  11   the picture cannot be read'],
                       ['info prints', 'plug-in', '  2 ', '  8 ', 'check', 'decode']),
        }
        for command, (said, unsaid) in footers.items():
            with self.subTest(command=command):
                text = run(command, '--help').stdout
                for words in said:
                    self.assertIn(words, text)
                for words in unsaid:
                    self.assertNotIn(words, text)
        result = run('--version')
        self.assertEqual((result.returncode, result.stdout), (0, 'spihost 1.0.0\n'))


class Plugin(h.HostCase):
    def test_info_lists_the_strings_the_module_and_the_conversion_path(self):
        result = run('info', '--plugin', h.MODULE)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[:5], ['0: 00IN', '1: Quillmere to DIB filter', '2: *.QLM',
                                     '3: Quillmere', 'plug-in: ' + h.MODULE])
        self.assertRegex(lines[5], r'^pixel conversion path on this CPU: '
                                   r'(scalar|sse2|ssse3|avx2|avx512)$')

    def test_a_module_that_cannot_be_loaded_says_why(self):
        def elf(bits, machine):
            return b'\x7fELF' + bytes([bits // 32, 1, 1]) + bytes(9) + struct.pack(
                '<HH', 3, machine) + bytes(44)

        def pe(machine):
            return b'MZ' + bytes(58) + struct.pack('<I', 64) + b'PE\0\0' + struct.pack(
                '<H', machine) + bytes(200)

        cases = [
            ('missing.so', None, 'No such file or directory'),
            ('text.so', b'hello, world\n', 'not a module: neither an ELF nor a PE (Windows DLL) '
             'file; it starts with 68 65 6c 6c 6f 2c 20 77'),
            ('empty.so', b'', 'not a module: neither an ELF nor a PE (Windows DLL) file; the '
             'file is empty'),
            ('i386.so', elf(32, 3), 'a 32-bit module cannot be loaded by this 64-bit host '
             '(an ELF module for x86; this spihost is for x86-64)'),
            ('arm64.so', elf(64, 183), 'an ELF module for ARM64 cannot be loaded by this host '
             'for x86-64'),
            # A Windows DLL of either size is named as one, not as the wrong size.
            ('dll32.spi', pe(0x14C), 'a Windows DLL for x86 cannot be loaded by this host, '
             'which loads ELF modules (the 32-bit spihost.exe on Windows loads it)'),
            ('dll64.spi', pe(0x8664), 'a Windows DLL for x86-64 cannot be loaded by this host, '
             'which loads ELF modules (the 64-bit spihost.exe on Windows loads it)'),
        ]
        good = self.path('good.qlm', qlm(1, 1))
        for name, content, message in cases:
            with self.subTest(name=name):
                module = self.path(name, content)
                for command in (['info'], ['check', good], ['decode', good]):
                    result = run(command[0], '--plugin', module, *command[1:])
                    self.assertFails(result, 8, module, 'cannot load the plug-in: ' + message)
        stand_in = os.path.join(os.path.dirname(h.MODULE), 'libspiwinapi.so')
        self.assertFails(run('info', '--plugin', stand_in), 8, 'the module has no export '
                         'GetPicture')

    def test_a_plug_in_name_without_a_folder_is_looked_for_here_first(self):
        folder = os.path.dirname(h.MODULE)
        shutil.copy(h.MODULE, self.path('myplug.so'))
        shutil.copy(os.path.join(folder, 'libspiwinapi.so'), self.dir)
        result = run('info', '--plugin', 'myplug.so', cwd=self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('plug-in: %s\n' % os.path.realpath(self.path('myplug.so')), result.stdout)

    def test_a_plug_in_name_is_never_left_to_the_system_s_search(self):
        # A tree of its own, so a failure cannot replace the build's module.
        bin = self.path('bin')
        os.mkdir(bin)
        for name in (h.SPIHOST, h.MODULE, os.path.join(os.path.dirname(h.MODULE),
                                                       'libspiwinapi.so')):
            shutil.copy(name, bin)
        spihost, module = os.path.join(bin, 'spihost'), os.path.join(bin, 'spiQLM.so')
        work = self.path('work')
        os.mkdir(work)
        here = lambda *args: subprocess.run([spihost, *args], cwd=work, capture_output=True,
                                            text=True, timeout=60, stdin=subprocess.DEVNULL)
        # Found beside the default module, and named by its real path.
        result = here('info', '--plugin', 'spiQLM.so')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('plug-in: %s\n' % os.path.realpath(module), result.stdout)
        # A system library is no plug-in of ours: not searched for, not loaded.
        self.assertFails(here('info', '--plugin', 'libz.so.1'), 8, 'libz.so.1: cannot load the '
                         'plug-in: no such file in the current folder or in ' + bin)
        # So the module it loads is guarded, even through a link that names it.
        original = self.read(module)
        os.symlink(module, os.path.join(work, 'm.bmp'))
        with open(os.path.join(work, 'a.qlm'), 'wb') as f:
            f.write(qlm(2, 2))
        result = here('decode', '--plugin', 'spiQLM.so', '-f', '-o', 'm.bmp', 'a.qlm')
        self.assertFails(result, 9, 'm.bmp: is the plug-in this command runs')
        self.assertEqual(self.read(module), original)


if __name__ == '__main__':
    h.main()

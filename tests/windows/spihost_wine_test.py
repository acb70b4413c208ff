#!/usr/bin/env python3
"""spihost.exe under wine64: names in any language, the system's messages, a module of the
wrong word size, outputs that are never lost.

usage: spihost_wine_test.py WINE_RUN PREFIX SPIHOST_EXE MODULE
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

WINE_RUN, PREFIX, HOST, MODULE = sys.argv[1:5]
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'samples',
                      'logo.qlm')


def run(*args, text=True):
    # Wine turns the UTF-8 command line into wide characters by the locale.
    env = {**os.environ, 'LANG': 'C.UTF-8', 'LC_ALL': 'C.UTF-8'}
    return subprocess.run([WINE_RUN, PREFIX, HOST, *args], capture_output=True, text=text,
                          env=env, timeout=120, stdin=subprocess.DEVNULL)


def setUpModule():
    # A wineserver that lives for the whole run, its services started by a run whose output
    # goes nowhere: one started by a test's run would inherit that run's pipes and hold them
    # open long after the program ends.
    os.makedirs(PREFIX, exist_ok=True)
    quiet = {'stdin': subprocess.DEVNULL, 'stdout': subprocess.DEVNULL,
             'stderr': subprocess.DEVNULL, 'timeout': 300}
    subprocess.run(['/usr/lib/wine/wineserver', '-p'], env={**os.environ, 'WINEPREFIX': PREFIX},
                   **quiet)
    subprocess.run([WINE_RUN, PREFIX, HOST, '--version'], **quiet)


def tearDownModule():
    subprocess.run(['/usr/lib/wine/wineserver', '-k'], env={**os.environ, 'WINEPREFIX': PREFIX},
                   timeout=120)


class Wine(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)
        self.dir = self.scratch.name

    def path(self, name):
        return os.path.join(self.dir, name)

    def read(self, path):
        with open(path, 'rb') as f:
            return f.read()

    def test_names_in_any_language_decode_by_name_or_in_memory(self):
        want = run('decode', '--plugin', MODULE, '-o', '-', SAMPLE, text=False)
        self.assertEqual(want.returncode, 0, want.stderr)
        self.assertEqual(len(want.stdout), 589878)
        # é is in the system code page, so the module gets the name; 画像 is not, so the
        # module gets the file in memory.
        cases = [('café.qlm', "a viewer asking by the file's name would offer it"),
                 ('画像.qlm', 'not asked by name: its name cannot be written in the system '
                  "code page, which the plug-in's names use, so the file is handed over in "
                  'memory')]
        for name, how in cases:
            with self.subTest(name=name):
                source = self.path(name)
                shutil.copy(SAMPLE, source)
                result = run('decode', '--plugin', MODULE, source)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn('%s: wrote %s' % (source, source[:-4] + '.bmp'), result.stdout)
                self.assertEqual(self.read(source[:-4] + '.bmp'), want.stdout)
                checked = run('check', '--plugin', MODULE, source)
                self.assertEqual(checked.returncode, 0, checked.stderr)
                self.assertIn(how, checked.stdout)
                encoded = run('encode', '-o', self.path('再.qlm'), source[:-4] + '.bmp')
                self.assertEqual(encoded.returncode, 0, encoded.stderr)
                os.remove(self.path('再.qlm'))

    def test_failures_give_the_system_s_own_text(self):
        missing = self.path('missing.qlm')
        for command in (['decode', '--plugin', MODULE], ['check', '--plugin', MODULE],
                        ['encode']):
            with self.subTest(command=command[0]):
                result = run(*command, missing)
                self.assertEqual(result.returncode, 6, result.stderr)
                # FormatMessage's words for ERROR_FILE_NOT_FOUND, Wine's or Windows'
                self.assertRegex(result.stderr, re.escape(missing) +
                                 ': (File not found|The system cannot find the file specified)$')

    def test_a_file_larger_than_any_qlm_is_refused_before_its_length_could_be_cut(self):
        sparse = self.path('sparse.qlm')
        with open(sparse, 'wb') as f:
            f.truncate(4 * 2 ** 30 + 6)  # a 32-bit length would call it 6 bytes
        for mode in ([], ['--memory']):
            with self.subTest(mode=mode):
                result = run('decode', '--plugin', MODULE, *mode, '-o', self.path('out.bmp'),
                             sparse)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn('file is 4,294,967,302 bytes; a 0 x 0 QLM image is 4 bytes '
                              '(4,294,967,298 bytes too many)', result.stderr)
                self.assertFalse(os.path.exists(self.path('out.bmp')))

    def test_a_32_bit_module_is_named_as_one(self):
        compiler = shutil.which('i686-w64-mingw32-gcc')
        if compiler is None:
            self.skipTest('i686-w64-mingw32-gcc is not installed: no 32-bit DLL to offer')
        source = self.path('tiny.c')
        with open(source, 'w') as f:
            f.write('int __stdcall entry(void* h, unsigned r, void* p) { return 1; }\n')
        dll = self.path('tiny32.dll')
        subprocess.run([compiler, '-shared', '-nostdlib', '-Wl,--entry=_entry@12', '-o', dll,
                        source], check=True, timeout=120)
        result = run('info', '--plugin', dll)
        self.assertEqual(result.returncode, 8, result.stderr)
        self.assertIn('a 32-bit module cannot be loaded by this 64-bit host (a Windows DLL for '
                      'x86; this spihost is for x86-64)', result.stderr)
        text = self.path('text.spi')
        with open(text, 'w') as f:
            f.write('not a module\n')
        result = run('info', '--plugin', text)
        self.assertEqual(result.returncode, 8, result.stderr)
        self.assertIn('not a module: neither an ELF nor a PE', result.stderr)

    def test_outputs_that_cannot_be_had_say_why(self):
        source = self.path('pic.qlm')
        shutil.copy(SAMPLE, source)
        cases = [  # output, exit code, message
            (self.path('no/such/x.bmp'), 9, 'no/such/x.bmp: cannot write: '),
            # Windows keeps device names in every folder, with any extension.
            (self.path('aux.bmp'), 9, 'aux.bmp: is the device AUX on Windows'),
            ('nul.png', 9, 'is the device NUL on Windows'),
            ('Com1.x.bmp', 9, 'is the device COM1 on Windows'),
            ('lpt9 .ppm', 9, 'is the device LPT9 on Windows'),
            ('con.bmp', 9, 'is the device CON on Windows'),
            # The device itself is meant, and written through.
            ('NUL', 0, ''), ('nul.', 0, ''),
            # As long a name as the system takes.
            (self.path('n' * 251 + '.bmp'), 0, ''),
        ]
        for out, code, message in cases:
            with self.subTest(out=out):
                result = run('decode', '--plugin', MODULE, '-q', '-o', out, source)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertIn(message, result.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), ['n' * 251 + '.bmp', 'pic.qlm'])
        # A full disk is named in the system's words, whichever way standard output is written.
        said = []
        for args in (['info', '--plugin', MODULE], ['decode', '--plugin', MODULE, '-o', '-',
                                                    source]):
            with open('/dev/full', 'wb') as full:
                result = subprocess.run([WINE_RUN, PREFIX, HOST, *args], stdout=full,
                                        stderr=subprocess.PIPE, text=True, timeout=120,
                                        stdin=subprocess.DEVNULL)
            self.assertEqual(result.returncode, 9, result.stderr)
            said.append(result.stderr)
        self.assertRegex(said[0], r'^spihost: standard output: cannot write: \w')
        self.assertNotIn('write error', said[0])
        self.assertEqual(said[0], said[1])

    def test_existing_outputs_are_kept_unless_forced(self):
        source = self.path('pic.qlm')
        shutil.copy(SAMPLE, source)
        out = self.path('pic.bmp')
        with open(out, 'wb') as f:
            f.write(b'keep me')
        result = run('decode', '--plugin', MODULE, source)
        self.assertEqual(result.returncode, 9, result.stderr)
        self.assertIn('exists; not replaced', result.stderr)
        self.assertEqual(self.read(out), b'keep me')
        result = run('decode', '--plugin', MODULE, '-f', source)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read(out)[:2], b'BM')
        result = run('decode', '--plugin', MODULE, '-f', '-o', source, source)
        self.assertEqual(result.returncode, 9, result.stderr)
        self.assertIn('is an input of this command', result.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), ['pic.bmp', 'pic.qlm'])
        # Standard output is an input too when it is redirected to one, appended or opened
        # for reading and writing; the handle Wine hands over tells its file's index only.
        original = self.read(source)
        for mode in ('ab', 'r+b'):
            with self.subTest(stdout=mode):
                with open(source, mode) as stdout:
                    result = subprocess.run([WINE_RUN, PREFIX, HOST, 'decode', '--plugin', MODULE,
                                             '-q', '-o', '-', source], stdout=stdout,
                                            stderr=subprocess.PIPE, text=True, timeout=120,
                                            stdin=subprocess.DEVNULL)
                self.assertEqual(result.returncode, 9, result.stderr)
                self.assertIn('standard output: is an input of this command', result.stderr)
                self.assertEqual(self.read(source), original)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=1)

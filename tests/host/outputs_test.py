#!/usr/bin/env python3
"""spihost never loses data: inputs and existing files are not written over, outputs are
replaced atomically or written through, signals leave nothing behind, and every write error
is seen, standard output included."""
import os
import pty
import resource
import signal
import stat
import subprocess
import sys
import threading

import hosttest as h
from hosttest import qlm, ppm, run


class NeverOverAnInput(h.HostCase):
    def test_the_round_trip_that_used_to_replace_its_input(self):
        original = h.bmp24(3, 2, range(18))
        picture = self.path('pic.bmp', original)
        self.assertEqual(run('encode', picture).returncode, 0)
        result = run('decode', '--plugin', h.MODULE, self.path('pic.qlm'))
        self.assertFails(result, 9, picture, 'exists; not replaced (-f replaces it, -o or -d '
                         'writes elsewhere)')
        self.assertEqual(self.read(picture), original)
        result = run('encode', picture)
        self.assertFails(result, 9, self.path('pic.qlm'), 'exists; not replaced')
        result = run('decode', '--plugin', h.MODULE, '-f', self.path('pic.qlm'))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotEqual(self.read(picture), original, 'replaced when asked')

    def test_no_name_for_an_input_is_written_over_even_when_forced(self):
        data = qlm(2, 1)
        source = self.path('self.qlm', data)
        os.link(source, self.path('hard.qlm'))
        os.symlink('self.qlm', self.path('link.qlm'))
        misnamed = self.path('x.bmp', data)  # a QLM file with a .bmp name
        picture = h.ppm(1, 1, [1, 2, 3])
        ppm_named_qlm = self.path('p.qlm', picture)
        decode = ['decode', '--plugin', h.MODULE, '-f']
        cases = [
            decode + ['-o', source, source],
            decode + ['-o', self.path('hard.qlm'), source],
            decode + ['-o', self.path('link.qlm'), source],
            decode + [misnamed],
            decode + ['--memory', '-o', os.path.join(self.dir, '.', 'self.qlm'), source],
            decode + ['-d', self.dir, '--format', 'bmp', self.path('other.qlm', data), misnamed],
            decode + ['-o', h.MODULE, source],
            ['encode', '-f', ppm_named_qlm],
            ['encode', '-f', '-d', self.dir, self.path('q.ppm', picture), ppm_named_qlm],
        ]
        for args in cases:
            with self.subTest(args=args[3:]):
                result = run(*args)
                self.assertEqual(result.returncode, 9, result.stderr)
                self.assertIn('is the plug-in this command runs' if h.MODULE in args[4:] else
                              'is an input of this command', result.stderr)
                self.assertIn('not written over (choose another name with -o or -d)',
                              result.stderr)
                self.assertEqual(self.read(source), data)
                self.assertEqual(self.read(misnamed), data)
                self.assertEqual(self.read(ppm_named_qlm), picture)
        with open(source, 'rb') as stdin:
            result = run('decode', '--plugin', h.MODULE, '-f', '-o', source, '-', stdin=stdin)
        self.assertFails(result, 9, 'is an input of this command')
        self.assertEqual(self.read(source), data)


    def test_standard_output_is_not_written_over_when_it_is_an_input(self):
        data = qlm(2, 1)
        picture = h.bmp24(1, 1, [1, 2, 3])
        decode = ['decode', '--plugin', h.MODULE, '-q']
        cases = [  # what, arguments before the input, input, its bytes, how stdout opens it
            ('decode, appended', decode + ['-o', '-'], 'c.qlm', data, 'ab'),
            ('decode, read and write', decode + ['-o', '-'], 'c.qlm', data, 'r+b'),
            ('decode --memory', decode + ['--memory', '-o', '-'], 'c.qlm', data, 'ab'),
            ('decode to /dev/stdout', decode + ['-o', '/dev/stdout'], 'c.qlm', data, 'ab'),
            ('encode, appended', ['encode', '-o', '-'], 'e.bmp', picture, 'ab'),
        ]
        for what, args, name, content, mode in cases:
            with self.subTest(what=what):
                source = self.path(name, content)
                with open(source, mode) as stdout:
                    result = subprocess.run([h.SPIHOST, *args, source], stdout=stdout,
                                            stderr=subprocess.PIPE, text=True, timeout=60)
                self.assertFails(result, 9, 'is an input of this command')
                self.assertEqual(self.read(source), content)
        # A stream read and written at once loses nothing, so it is not guarded: here the
        # empty input is refused for what it is.
        with open(os.devnull, 'rb') as stdin, open(os.devnull, 'wb') as stdout:
            result = subprocess.run([h.SPIHOST, *decode, '-o', '-', '-'], stdin=stdin,
                                    stdout=stdout, stderr=subprocess.PIPE, text=True, timeout=60)
        self.assertFails(result, 2, 'file is 0 bytes')


class ReplacedSafely(h.HostCase):
    def setUp(self):
        super().setUp()
        self.source = self.path('pic.qlm', qlm(2, 2))

    def decode(self, out, *extra):
        return run('decode', '--plugin', h.MODULE, *extra, '-o', out, self.source)

    def test_forced_replacement_keeps_permission_bits_and_symbolic_links(self):
        for mode in (0o640, 0o444, 0o600, 0o755):
            with self.subTest(mode=oct(mode)):
                out = self.path('out.bmp', b'old', mode)
                self.assertEqual(self.decode(out).returncode, 9)
                self.assertEqual(self.read(out), b'old')
                result = self.decode(out, '-f')
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.read(out)[:2], b'BM')
                self.assertMode(out, mode)
                os.remove(out)
        target = self.path('real.bmp', b'old', 0o604)
        os.mkdir(self.path('links'))
        link = self.path('links/out.bmp')
        os.symlink('../real.bmp', link)
        result = self.decode(link, '-f')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.islink(link), 'the link stays a link')
        self.assertEqual(self.read(target)[:2], b'BM', 'its target is replaced')
        self.assertMode(target, 0o604)
        dangling = self.path('links/new.bmp')
        os.symlink('../made.bmp', dangling)
        self.assertEqual(self.decode(dangling).returncode, 0)
        self.assertTrue(os.path.islink(dangling) and os.path.exists(self.path('made.bmp')))
        self.assertEqual([n for n in self.listing() if 'spihost' in n], [])

    def test_names_as_long_as_the_system_allows_are_written_and_replaced(self):
        names = [('255 bytes', 'n' * 251 + '.bmp'),
                 ('255 bytes of 3-byte characters', '\u753b' * 83 + 'x.bmp')]
        for what, name in names:
            with self.subTest(what=what):
                self.assertLessEqual(len(name.encode()), 255)
                out = self.path(name)
                for extra in ([], ['-f']):  # made, then replaced
                    result = self.decode(out, *extra)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(self.read(out)[:2], b'BM')
                self.assertEqual(self.listing(), sorted(['pic.qlm', name]))
                os.remove(out)

    def test_a_new_file_follows_the_umask(self):
        for mask, mode in ((0o022, 0o644), (0o077, 0o600), (0o002, 0o664)):
            with self.subTest(umask=oct(mask)):
                out = self.path('new%o.bmp' % mask)
                result = subprocess.run([h.SPIHOST, 'decode', '--plugin', h.MODULE, '-o', out,
                                         self.source], preexec_fn=lambda: os.umask(mask),
                                        capture_output=True, text=True, timeout=60)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertMode(out, mode)

    def test_fifos_terminals_and_standard_output_are_written_through(self):
        want = run('decode', '--plugin', h.MODULE, '-o', '-', self.source, text=False).stdout
        self.assertEqual(want[:2], b'BM')
        fifo = self.path('out.fifo')
        os.mkfifo(fifo)
        got = []
        reader = threading.Thread(target=lambda: got.append(open(fifo, 'rb').read()),
                                  daemon=True)
        reader.start()
        result = self.decode(fifo)
        reader.join(30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(got, [want])
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode), 'still a FIFO')
        master, slave = pty.openpty()
        terminal = os.ttyname(slave)
        os.set_blocking(master, False)
        result = self.decode(terminal)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(stat.S_ISCHR(os.stat(terminal).st_mode))
        os.close(slave)
        os.close(master)
        # /dev/stdout resolves to the pipe or file it is; neither is replaced.
        result = run('decode', '--plugin', h.MODULE, '-q', '-o', '/dev/stdout', self.source,
                     text=False)
        self.assertEqual((result.returncode, result.stdout), (0, want))
        captured = self.path('captured.bmp', b'')
        with open(captured, 'wb') as stdout:
            result = subprocess.run([h.SPIHOST, 'decode', '--plugin', h.MODULE, '-q', '-o',
                                     '/dev/stdout', self.source], stdout=stdout, timeout=60)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.read(captured), want)

    def test_outputs_that_cannot_be_written_say_why_and_leave_nothing(self):
        os.mkdir(self.path('folder.bmp'))
        cases = [
            (self.path('no/such/folder/out.bmp'), [], 'cannot write', 'No such file'),
            (self.path('pic.qlm/out.bmp'), [], 'cannot write: Not a directory'),
            (self.path('folder.bmp'), ['-f'], 'Is a directory', '-d DIR'),
        ]
        if os.geteuid() != 0:  # root writes into read-only folders
            os.mkdir(self.path('locked'), 0o500)
            cases.append((self.path('locked/out.bmp'), [], 'Permission denied'))
        for out, extra, *messages in cases:
            with self.subTest(out=out):
                self.assertFails(self.decode(out, *extra), 9, out, *messages)
        result = run('decode', '--plugin', h.MODULE, '-d', self.path('absent'), self.source)
        self.assertFails(result, 9, 'No such file or directory')
        self.assertEqual([n for n in self.listing() if 'spihost' in n], [])

    def test_a_full_disk_is_an_error_on_standard_output_too(self):
        cases = [['info', '--plugin', h.MODULE], ['check', '--plugin', h.MODULE, self.source],
                 ['decode', '--plugin', h.MODULE, '-o', '-', self.source],
                 ['decode', '--plugin', h.MODULE, '-o', '/dev/full', self.source]]
        for args in cases:
            with self.subTest(args=args):
                with open('/dev/full', 'wb') as full:
                    result = subprocess.run([h.SPIHOST, *args], stdout=full,
                                            stderr=subprocess.PIPE, text=True, timeout=60)
                self.assertFails(result, 9, 'No space left on device')


class Streams(h.HostCase):
    def test_fifo_and_pipe_inputs_go_to_the_module_in_memory(self):
        data = qlm(5, 4)
        want = run('decode', '--plugin', h.MODULE, '-o', '-', self.path('pic.qlm', data),
                   text=False).stdout
        fifo = self.path('in.fifo')
        os.mkfifo(fifo)
        writer = threading.Thread(target=lambda: open(fifo, 'wb').write(data), daemon=True)
        writer.start()
        result = run('decode', '--plugin', h.MODULE, '-o', '-', fifo, text=False)
        writer.join(30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, want)
        piped = subprocess.run(['sh', '-c', 'cat "$1" | "$2" decode --plugin "$3" -o - -', 'sh',
                                self.path('pic.qlm'), h.SPIHOST, h.MODULE], capture_output=True,
                               timeout=60)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertEqual(piped.stdout, want)
        with open(self.path('pic.ppm', ppm(3, 1, range(9))), 'rb') as stdin:
            result = run('encode', '-o', '-', '-', stdin=stdin, text=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout[:4], b'\0\3\0\1')

    def test_inputs_larger_than_any_qlm_are_refused_from_their_size(self):
        sparse = self.path('sparse.qlm')
        with open(sparse, 'wb') as f:
            f.truncate(4 * 2 ** 30 + 6)  # 4 GiB + n: once decoded as the n-byte picture
        wide = self.path('wide.qlm')
        with open(wide, 'wb') as f:
            f.write(b'\xff\xff\xff\xff')
            f.truncate(4 * 2 ** 30 + 6)
        cases = [
            (sparse, 'file is 4,294,967,302 bytes; a 0 x 0 QLM image is 4 bytes '
             '(4,294,967,298 bytes too many)'),
            (wide, 'file is 4,294,967,302 bytes; the largest QLM image (512 x 512) is '
             '524,292 bytes'),
            ('/dev/zero', 'file is more than 524,292 bytes; the largest QLM image (512 x 512) '
             'is 524,292 bytes'),
        ]
        for source, message in cases:
            for args in (['decode', '-o', self.path('out.bmp')], ['check'],
                         ['decode', '--memory', '-o', self.path('out.bmp')],
                         ['check', '--memory']):
                with self.subTest(source=source, args=args):
                    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
                    result = run(args[0], '--plugin', h.MODULE, *args[1:], source)
                    if args[0] == 'decode':
                        self.assertFails(result, 2, source, 'not a QLM image: ' + message)
                    else:  # check says so on standard output, with what a viewer is told
                        self.assertEqual((result.returncode, result.stderr), (2, ''))
                        self.assertIn(source + ': not a QLM image; decode would refuse it: ' +
                                      message, result.stdout)
                        self.assertIn('a viewer passing its first 2,048 bytes would',
                                      result.stdout)
                    self.assertFalse(os.path.exists(self.path('out.bmp')))
                    # Refused before reading: far from the gigabytes a read would take.
                    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
                    self.assertLess(max(peak, before), 512 * 1024, 'KiB of peak memory')

    def test_encode_judges_a_stream_by_its_first_bytes_and_never_holds_it_twice(self):
        cases = [  # what, the shell's input, message, most KiB of peak memory
            ('no picture', 'head -c 300000000 /dev/zero', 'not a PNG, BMP or PNM picture (its '
             'first bytes are 00 00 00 00)', 64 * 1024),
            ('no picture, a device', 'cat /dev/zero', 'not a PNG, BMP or PNM picture', 64 * 1024),
            # Read to the limit, 256 MiB, and not a byte more, nor a copy of it.
            ('a PGM header, then too much', "{ printf 'P5\\n'; head -c 300000000 /dev/zero; }",
             'input is more than 268,435,456 bytes; encode reads pictures of at most '
             '268,435,456 bytes', 384 * 1024),
        ]
        # A process of its own measures each peak, apart from what this one ran before.
        measured = ('import resource, subprocess, sys\n'
                    'code = subprocess.run(sys.argv[1:]).returncode\n'
                    'print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n'
                    'sys.exit(code)\n')
        for what, feed, message, most in cases:
            with self.subTest(what=what):
                result = subprocess.run([sys.executable, '-c', measured, 'sh', '-c',
                                         feed + ' | "$1" encode -o "$2" -', 'sh', h.SPIHOST,
                                         self.path('x.qlm')],
                                        capture_output=True, text=True, timeout=120)
                self.assertFails(result, 11, '-: ' + message)
                self.assertLess(int(result.stdout), most, 'KiB of peak memory')
                self.assertFalse(os.path.exists(self.path('x.qlm')))
        # A named device is a stream too.
        self.assertFails(run('encode', '/dev/zero'), 11, 'not a PNG, BMP or PNM picture')


class Interrupted(h.HostCase):
    """A slow plug-in (each row waits) and a slow fsync land the signal where it must."""

    def start(self, args, env, stderr=subprocess.PIPE):
        process = subprocess.Popen([h.SPIHOST, *args], env={**os.environ, **env},
                                   stdout=subprocess.PIPE, stderr=stderr)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def test_a_signal_during_a_decode_cancels_it_through_the_plug_in(self):
        source = self.path('tall.qlm', qlm(8, 300))
        mark = self.path('mark')
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for mode in ([], ['--memory']):
                with self.subTest(signal=number.name, mode=mode):
                    out = self.path('out.bmp')
                    process = self.start(['decode', '--plugin', h.SLOW_PLUGIN, *mode, '-o', out,
                                          source], {'SPIQLM_SLOW_MARK': mark})
                    pid = int(h.wait_for(mark))
                    os.kill(pid, number)
                    _, stderr = process.communicate(timeout=30)
                    self.assertEqual(process.returncode, -number, stderr)
                    self.assertEqual(h.wait_for(mark).split(), [str(pid), '1'],
                                     'the plug-in returned 1, cancelled')
                    self.assertIn(b'tall.qlm: interrupted; nothing written', stderr)
                    self.assertEqual(self.listing(), ['mark', 'tall.qlm'])
                    os.remove(mark)

    def test_the_progress_line_is_ended_and_the_shell_sees_130(self):
        source = self.path('tall.qlm', qlm(8, 300))
        mark = self.path('mark')
        stages = [  # where the signal lands, the environment that holds it there
            ('during the decode', h.SLOW_PLUGIN, {'SPIQLM_SLOW_MARK': mark}),
            ('during the write', h.MODULE, {
                'LD_PRELOAD': h.SLOW_FSYNC, 'SPIQLM_SLOW_FSYNC_MARK': mark,
                'ASAN_OPTIONS': os.environ.get('ASAN_OPTIONS', '') +
                ':verify_asan_link_order=0'}),
        ]
        for stage, module, env in stages:
            with self.subTest(stage=stage):
                master, slave = pty.openpty()
                shell = ('exec 2>"$1"; "$2" decode --plugin "$3" -o "$4" "$5"; '
                         'echo "status $?" >&2')
                process = subprocess.Popen(['sh', '-c', shell, 'sh', os.ttyname(slave),
                                            h.SPIHOST, module, self.path('out.bmp'), source],
                                           env={**os.environ, **env}, start_new_session=True)
                self.addCleanup(lambda: process.poll() is None and process.kill())
                os.kill(int(h.wait_for(mark).split()[0]), signal.SIGINT)
                process.wait(30)
                os.close(slave)
                screen = b''
                while True:
                    try:
                        chunk = os.read(master, 65536)
                    except OSError:
                        break
                    if not chunk:
                        break
                    screen += chunk
                os.close(master)
                os.remove(mark)
                text = screen.decode().replace('\r\n', '\n')
                self.assertRegex(text, r'\[#* *\] +\d+%', 'a bar was drawn')
                self.assertRegex(text, r'%\n+spihost: .*tall\.qlm: interrupted; nothing '
                                       r'written\nstatus 130\n$')
                self.assertEqual(self.listing(), ['tall.qlm'])

    def test_a_signal_while_the_output_is_written_leaves_no_temporary_file(self):
        source = self.path('pic.qlm', qlm(4, 4))
        mark = self.path('mark')
        env = {'LD_PRELOAD': h.SLOW_FSYNC, 'SPIQLM_SLOW_FSYNC_MARK': mark,
               'ASAN_OPTIONS': os.environ.get('ASAN_OPTIONS', '') + ':verify_asan_link_order=0'}
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for existing in (None, b'old picture'):
                with self.subTest(signal=number.name, existing=existing):
                    out = self.path('out.bmp', existing)
                    process = self.start(['decode', '--plugin', h.MODULE, '-f', '-o', out,
                                          source], env)
                    pid = int(h.wait_for(mark))
                    self.assertTrue(any('spihost' in n for n in self.listing()),
                                    'the temporary file is there while fsync waits')
                    os.kill(pid, number)
                    _, stderr = process.communicate(timeout=30)
                    self.assertEqual(process.returncode, -number)
                    # The same words as a stop during the decode.
                    self.assertEqual(stderr, b'spihost: %s: interrupted; nothing written\n'
                                     % source.encode())
                    os.remove(mark)
                    expected = ['out.bmp', 'pic.qlm'] if existing else ['pic.qlm']
                    self.assertEqual(self.listing(), expected)
                    if existing:
                        self.assertEqual(self.read(out), existing, 'the old file is whole')
                        os.remove(out)

    def test_a_long_name_s_temporary_file_is_cut_between_characters(self):
        source = self.path('pic.qlm', qlm(1, 1))
        mark = self.path('mark')
        name = 'abc' + '\U0001F5BC' * 62 + '.bmp'  # 4-byte characters across the cut
        env = {'LD_PRELOAD': h.SLOW_FSYNC, 'SPIQLM_SLOW_FSYNC_MARK': mark,
               'ASAN_OPTIONS': os.environ.get('ASAN_OPTIONS', '') + ':verify_asan_link_order=0'}
        process = self.start(['decode', '--plugin', h.MODULE, '-o', self.path(name), source],
                             env)
        pid = int(h.wait_for(mark))
        # The names as bytes, while fsync waits: a cut inside a character would not decode.
        temporary = [n for n in os.listdir(os.fsencode(self.dir)) if b'spihost' in n]
        os.kill(pid, signal.SIGTERM)
        process.communicate(timeout=30)
        self.assertEqual(len(temporary), 1, temporary)
        self.assertTrue(temporary[0].decode().startswith('.abc' + '\U0001F5BC' * 15 + '.spihost-'),
                        temporary)


if __name__ == '__main__':
    h.main()

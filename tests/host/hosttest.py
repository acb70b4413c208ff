"""What the host's tests share: the programs under test, small fixtures and a scratch folder.

Each test file runs as: python3 FILE_test.py SPIHOST MODULE [SLOW_PLUGIN SLOW_FSYNC]
"""
import os
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SPIHOST = MODULE = SLOW_PLUGIN = SLOW_FSYNC = None


def qlm(width, height, words=None):
    words = words if words is not None else [(x * 977 + y * 31) & 0xFFFF
                                             for y in range(height) for x in range(width)]
    return struct.pack('>HH', width, height) + b''.join(struct.pack('>H', w) for w in words)


def ppm(width, height, rgb):
    return b'P6\n%d %d\n255\n' % (width, height) + bytes(rgb)


def bmp24(width, height, rgb):
    """A bottom-up 24-bit BMP of top-first red-green-blue bytes."""
    stride = (width * 3 + 3) & ~3
    rows = [b''.join(bytes([rgb[i + 2], rgb[i + 1], rgb[i]])
                     for i in range(y * width * 3, (y + 1) * width * 3, 3))
            + bytes(stride - width * 3) for y in range(height)]
    pixels = b''.join(reversed(rows))
    return (b'BM' + struct.pack('<IHHI', 54 + len(pixels), 0, 0, 54) +
            struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0) +
            pixels)


def run(*args, text=True, **kwargs):
    kwargs.setdefault('timeout', 60)
    kwargs.setdefault('stdin', subprocess.DEVNULL)
    return subprocess.run([SPIHOST, *args], capture_output=True, text=text, **kwargs)


def wait_for(path, timeout=30):
    """The contents of `path` once it exists."""
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        if time.monotonic() > deadline:
            raise AssertionError('%s never appeared' % path)
        time.sleep(0.02)
    with open(path) as f:
        return f.read()


class HostCase(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)
        self.dir = self.scratch.name

    def path(self, name, content=None, mode=None):
        path = os.path.join(self.dir, name)
        if content is not None:
            with open(path, 'wb') as f:
                f.write(content)
        if mode is not None:
            os.chmod(path, mode)
        return path

    def read(self, path):
        with open(path, 'rb') as f:
            return f.read()

    def listing(self, folder=None):
        return sorted(os.listdir(folder or self.dir))

    def assertFails(self, result, code, *fragments):
        """A failure: its exit code, one line on stderr holding each fragment, nothing else."""
        self.assertEqual(result.returncode, code, result.stderr)
        lines = result.stderr.strip().splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        for fragment in fragments:
            self.assertIn(fragment, lines[0])

    def assertMode(self, path, mode):
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), mode, oct(os.stat(path).st_mode))


def main():
    global SPIHOST, MODULE, SLOW_PLUGIN, SLOW_FSYNC
    paths = [os.path.abspath(p) for p in sys.argv[1:5]]  # the tests change folders
    SPIHOST, MODULE = paths[0], paths[1]
    if len(paths) > 3:
        SLOW_PLUGIN, SLOW_FSYNC = paths[2], paths[3]
    unittest.main(argv=sys.argv[:1], verbosity=1)

#!/usr/bin/env python3
"""cmake --install makes a tree that works anywhere: after its build folder is gone, moved,
through PATH and through symbolic links.

usage: install_test.py SOURCE_DIR CMAKE
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE, CMAKE = sys.argv[1], sys.argv[2]


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.root = cls.scratch.name
        build = os.path.join(cls.root, 'build')
        cls.prefix = os.path.join(cls.root, 'prefix')
        for step in ([CMAKE, '-S', SOURCE, '-B', build, '-DSPIQLM_TESTS=OFF',
                      '-DCMAKE_BUILD_TYPE=Release'],
                     [CMAKE, '--build', build, '-j2', '--target', 'spihost', 'spiQLM'],
                     [CMAKE, '--install', build, '--prefix', cls.prefix]):
            result = subprocess.run(step, capture_output=True, text=True, timeout=900)
            if result.returncode != 0:
                raise AssertionError('%s failed:\n%s%s' % (step, result.stdout, result.stderr))
        shutil.rmtree(build)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def run_in(self, cwd, program, *args, env=None):
        return subprocess.run([program, *args], cwd=cwd, capture_output=True, text=True,
                              env=env, timeout=60)

    def work_folder(self, name):
        folder = os.path.join(self.root, name)
        os.makedirs(folder, exist_ok=True)
        return folder

    def test_the_tree_holds_the_program_the_module_the_stand_in_and_the_sample(self):
        files = sorted(os.path.relpath(os.path.join(top, name), self.prefix)
                       for top, _, names in os.walk(self.prefix) for name in names)
        self.assertEqual(files, ['bin/spihost', 'lib/spiqlm/libspiwinapi.so',
                                 'lib/spiqlm/spiQLM.so', 'share/spiqlm/logo.qlm'])

    def test_it_runs_from_anywhere_by_path_through_path_and_through_links(self):
        program = os.path.join(self.prefix, 'bin', 'spihost')
        links = self.work_folder('links')
        link = os.path.join(links, 'spihost')
        if not os.path.lexists(link):
            os.symlink(program, link)
        chained = os.path.join(links, 'again')
        if not os.path.lexists(chained):
            os.symlink('spihost', chained)
        path_env = {**os.environ, 'PATH': os.path.join(self.prefix, 'bin') + os.pathsep +
                    os.environ.get('PATH', '')}
        ways = [('by path', program, None), ('through PATH', 'spihost', path_env),
                ('through a link', link, None), ('through two links', chained, None)]
        for what, command, env in ways:
            with self.subTest(way=what):
                here = self.work_folder('run-' + what.replace(' ', '-'))
                result = self.run_in(here, command, 'info', env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn('plug-in: %s/lib/spiqlm/spiQLM.so' % self.prefix, result.stdout)
                result = self.run_in(here, command, 'decode', env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn('%s/share/spiqlm/logo.qlm: wrote logo.bmp' % self.prefix,
                              result.stdout)
                self.assertEqual(os.path.getsize(os.path.join(here, 'logo.bmp')), 589878)

    def test_the_tree_still_works_when_moved(self):
        moved = os.path.join(self.root, 'moved')
        shutil.copytree(self.prefix, moved, symlinks=True)
        result = self.run_in(self.work_folder('after-move'), os.path.join(moved, 'bin', 'spihost'),
                             'check', os.path.join(moved, 'share', 'spiqlm', 'logo.qlm'))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('a QLM image, 512 x 384; decode would read it', result.stdout)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=1)

#!/usr/bin/env python3
"""Makes the Windows release archive with cpack, as README.md says, and checks what is in it.

usage: archive_check.py CPACK CONFIG OUTDIR NAME MODULE HOST README [LICENSE]
  NAME     the archive's name without .zip, which is also its one top folder
  MODULE, HOST, README, LICENSE   the build's files the archive must hold, byte for byte
"""
import os
import subprocess
import sys
import zipfile


def main(argv):
    if len(argv) not in (8, 9):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    cpack, config, outdir, name, module, host, readme = argv[1:8]
    files = {'spiQLM.spi': module, 'spihost.exe': host, 'README.txt': readme}
    if len(argv) == 9:
        files['LICENSE.txt'] = argv[8]
    subprocess.run([cpack, '--config', config, '-B', outdir], check=True,
                   stdout=subprocess.DEVNULL)
    archive = os.path.join(outdir, name + '.zip')
    problems = []
    with zipfile.ZipFile(archive) as zipped:
        names = sorted(zipped.namelist())
        print('%s:' % archive)
        for info in zipped.infolist():
            print('  %9d  %s' % (info.file_size, info.filename))
        want = sorted('%s/%s' % (name, entry) for entry in files)
        if names != want:
            problems.append('holds %s, want %s' % (names, want))
        for entry, path in files.items():
            member = '%s/%s' % (name, entry)
            if member in names and zipped.read(member) != open(path, 'rb').read():
                problems.append('%s differs from %s' % (member, path))
        text = zipped.read('%s/README.txt' % name) if '%s/README.txt' % name in names else b''
    lines = text.split(b'\n')
    if not all(line.endswith(b'\r') for line in lines[:-1]) or lines[-1] != b'':
        problems.append('README.txt has lines not ended by CRLF')
    if b'@' in text or b'plug-in folder' not in text:
        problems.append('README.txt lacks the install steps or was not filled in')
    for problem in problems:
        print('FAIL ' + problem)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

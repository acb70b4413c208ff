#!/usr/bin/env python3
"""Shows, and checks, the conversion path a built Windows module takes on this CPU.

The module keeps its choice in one variable of the file that chooses it. Its address in the
DLL is that object's .bss in the link map plus the variable's offset in the object's own symbol
table; tests/windows/path_probe.exe then reads it in the loaded module under Wine.

usage: chosen_path.py OBJDUMP MAP OBJECTS WINE PREFIX PROBE MODULE [EXPECTED]
  OBJECTS   the module's object files, ;-separated; the one that chooses is picked by name
  EXPECTED  the path the module is held to; without it, the widest this CPU can run
Exits 77 (skipped) when this CPU cannot run EXPECTED.
"""
import os
import re
import subprocess
import sys

CHOOSER = 'convert_row.cpp.obj'
RECORD = re.compile(r'\(sec\s+(\d+)\).*\s0x([0-9a-f]+)\s+\S*chosen_path\S*$')
PATHS = ['scalar', 'sse2', 'ssse3', 'avx2', 'avx512']
SKIPPED = 77


def record_offset(objdump, obj):
    """(section name, offset) of the choice in the chooser's object file."""
    symbols = subprocess.run([objdump, '-t', obj], check=True, capture_output=True,
                             text=True).stdout
    headers = subprocess.run([objdump, '-h', obj], check=True, capture_output=True,
                             text=True).stdout
    sections = re.findall(r'^\s*\d+\s+(\S+)\s+[0-9a-f]+\s', headers, re.M)
    for line in symbols.splitlines():
        match = RECORD.search(line)
        if match:
            return sections[int(match.group(1)) - 1], int(match.group(2), 16)
    sys.exit('%s: no chosen_path symbol' % obj)


def section_address(map_path, section):
    """The image base and where the chooser's `section` landed, from the link map."""
    text = open(map_path).read()
    base = re.search(r'__image_base__ = (0x[0-9a-f]+)', text)
    placed = re.search(r'^ %s\s+(0x[0-9a-f]+)\s+0x[0-9a-f]+\s+\S*[(/]%s\)?$' %
                       (re.escape(section), re.escape(CHOOSER)), text, re.M)
    if not base or not placed:
        sys.exit('%s: no %s of %s' % (map_path, section, CHOOSER))
    return int(base.group(1), 16), int(placed.group(1), 16)


def main(argv):
    if len(argv) not in (8, 9):
        print(next(l for l in __doc__.splitlines() if l.startswith('usage:')), file=sys.stderr)
        return 2
    objdump, map_path, objects, wine, prefix, probe, module = argv[1:8]
    expected = argv[8] if len(argv) == 9 else None
    chooser = [o for o in objects.split(';') if os.path.basename(o) == CHOOSER]
    if len(chooser) != 1:
        sys.exit('expected one %s among the objects' % CHOOSER)
    section, offset = record_offset(objdump, chooser[0])
    base, address = section_address(map_path, section)
    rva = address - base + offset
    run = subprocess.run([wine, prefix, probe, module, hex(rva)], capture_output=True, text=True)
    sys.stderr.write(run.stderr)
    seen = dict(line.split(' ', 1) for line in run.stdout.splitlines() if ' ' in line)
    cpu, chosen = seen.get('cpu'), seen.get('module')
    print('%s: choice recorded at RVA %#x; before a decode: %s; this CPU: %s; the module '
          'chose: %s' % (module, rva, seen.get('before'), cpu, chosen))
    if run.returncode != 0 or cpu not in PATHS or chosen not in PATHS:
        return 1
    if expected is None:
        return 0 if chosen == cpu else 1
    if PATHS.index(expected) > PATHS.index(cpu):
        print('this CPU cannot run %s: skipped' % expected)
        return SKIPPED
    return 0 if chosen == expected else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))

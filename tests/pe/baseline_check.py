#!/usr/bin/env python3
"""Checks that the 32-bit DLL's code outside the vector kernels runs on an 80386.

Every CPU runs that code before any path is chosen, so an instruction of a later CPU in it
(cmov, a multi-byte nop, bswap, any MMX or SSE register...) stops the viewer on an older one.
The kernels are left out: each runs only on a CPU that cpuid showed to have its instructions.
cpuid and xgetbv themselves may appear only where the path is chosen, which runs cpuid only
once the flags register shows it exists, and xgetbv only once cpuid shows the system saves the
wide registers.

Besides the object files, whatever the link took from libgcc (read from the linker's map) is
disassembled and checked the same way, since it lands in the same code.

usage: baseline_check.py OBJDUMP AR MAP OBJECT...
"""
import os
import re
import subprocess
import sys
import tempfile

from disassembly import instructions

KERNEL = re.compile(r'convert_row_(sse2|ssse3|avx2|avx512)\.cpp\.obj$')
# Where the CPU probes may run, by object file name.
GUARDED = {'convert_row.cpp.obj': {'cpuid', 'xgetbv'}}
LATER = [
    (re.compile(r'^(f?cmov\w*|fu?comip?|nop[lwq]|endbr32|ud2|rdpmc|sysenter|sysexit)$'),
     'Pentium Pro'),
    (re.compile(r'^(cmpxchg8b|rdtsc|rdmsr|wrmsr|rsm)$'), 'Pentium'),
    (re.compile(r'^(bswap|xadd[bwl]?|cmpxchg[bwl]?|invd|wbinvd|invlpg|cpuid)$'), '80486'),
    (re.compile(r'^(xgetbv|emms|femms|ldmxcsr|stmxcsr|fxsave|fxrstor|movnti|[lms]fence|'
                r'clflush|prefetch\w*|popcnt|lzcnt|tzcnt|movbe|crc32\w*)$'), 'a later CPU'),
]
VECTOR_REGISTER = re.compile(r'%([xyz]?mm\d+|k[0-7])\b')


PREFIXES = {'data16', 'addr32', 'cs', 'ds', 'es', 'ss', 'fs', 'gs', 'rep', 'repz', 'repnz',
            'lock'}


def needs_later_cpu(mnemonic, operands):
    """The CPU an instruction needs beyond the 80386, or None."""
    words = [mnemonic] + operands.split()
    while len(words) > 1 and words[0] in PREFIXES:
        words.pop(0)
    mnemonic, operands = words[0], ' '.join(words[1:])
    if VECTOR_REGISTER.search(operands.split('#')[0]):
        return 'MMX or SSE'
    # A nop with an operand is the multi-byte form (0F 1F), which the 80386 does not know.
    if mnemonic == 'nop' and operands:
        return 'Pentium Pro'
    for pattern, cpu in LATER:
        if pattern.match(mnemonic):
            return cpu
    return None


def check_code(objdump, path, label, guarded):
    """Prints one line for an object; returns its offending instructions."""
    count, probes, offending = 0, 0, []
    for address, mnemonic, operands in instructions(objdump, path):
        count += 1
        cpu = needs_later_cpu(mnemonic, operands)
        if cpu and mnemonic in guarded:
            probes += 1
        elif cpu:
            offending.append('  %s %s: %s %s (%s)' % (label, address, mnemonic,
                                                      operands.strip(), cpu))
    note = ', %d guarded CPU probes' % probes if guarded else ''
    print('%s: %d instructions%s, %d needing a later CPU' % (label, count, note, len(offending)))
    return offending


def libgcc_members(map_path):
    """The libgcc archive members the link took, from the map's list of included members."""
    members = []
    with open(map_path) as handle:
        for line in handle:
            match = re.match(r'^(\S*libgcc\.a)\(([^)]+)\)', line)
            if match and (match.group(1), match.group(2)) not in members:
                members.append((match.group(1), match.group(2)))
    return members


def main(argv):
    if len(argv) < 5:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    objdump, ar, map_path, objects = argv[1], argv[2], argv[3], argv[4:]
    offending, checked = [], 0
    for path in objects:
        name = os.path.basename(path)
        if KERNEL.search(name):
            print('%s: a kernel, left out' % name)
            continue
        offending += check_code(objdump, path, name, GUARDED.get(name, set()))
        checked += 1
    members = libgcc_members(map_path)
    if not members:
        print('libgcc: nothing linked from it')
    with tempfile.TemporaryDirectory() as scratch:
        for archive, member in members:
            subprocess.run([ar, 'x', '--output', scratch, archive, member], check=True)
            offending += check_code(objdump, os.path.join(scratch, member),
                                    'libgcc ' + member, set())
    for entry in offending:
        print(entry)
    if checked == 0:
        print('no object files outside the kernels: wrong arguments?')
        return 1
    return 1 if offending else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

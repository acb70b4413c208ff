#!/usr/bin/env python3
"""Guards a built DLL against instructions that fault on a misaligned address.

A viewer may call the module with its stack aligned to 4 bytes only, and the rows the module
converts lie at any address, so no instruction in the DLL may rely on alignment it is not
certain of. Two kinds can fault:

- aligned vector moves (movdqa, movaps, vmovdqa64, movntdq, ...), whatever their operands:
  today's cross compiler turns every one it would emit into an unaligned move, and one showing
  up means that no longer holds;
- legacy-SSE instructions with a 128-bit memory operand (pand, pshufb, paddb, ...), which fault
  unless the address is a multiple of 16. The only such operand accepted is a static constant:
  a fixed (absolute or RIP-relative) address in a data section of the image, at a multiple of
  16 (the image is loaded at a 64 KiB boundary, so that survives relocation).

VEX- and EVEX-encoded instructions other than the aligned moves take any address.

In a 64-bit module no ymm or zmm register may be stored to or read from the stack either: with
unwind data a 64-bit function cannot realign its frame, so its slots are 16-byte aligned only,
and a compiler that emitted aligned moves for such spills would fault there. (32-bit kernels
realign their frames.)

usage: alignment_check.py OBJDUMP MODULE...
Prints, for each module, what it checked, and every offending instruction; exits 1 if any.
"""
import re
import sys

import pefile

from disassembly import instructions

ALIGNED_MOVE = re.compile(r'^v?mov(dqa(32|64)?|ap[sd]|nt(dqa|dq|ps|pd))$')
# Legacy-SSE instructions whose memory operand is narrower than 128 bits, or that take any
# address: the rest with an xmm register and a memory operand read or write 16 aligned bytes.
NARROW_OR_UNALIGNED = {
    'movdqu', 'movups', 'movupd', 'lddqu', 'maskmovdqu',
    'movd', 'movq', 'movss', 'movsd', 'movlps', 'movhps', 'movlpd', 'movhpd', 'movddup',
    'pinsrb', 'pinsrw', 'pinsrd', 'pinsrq', 'pextrb', 'pextrw', 'pextrd', 'pextrq',
    'insertps', 'extractps', 'cvtps2pd', 'cvtdq2pd', 'cvtpi2ps', 'cvtpi2pd',
    'comiss', 'comisd', 'ucomiss', 'ucomisd',
    'pmovzxbw', 'pmovzxbd', 'pmovzxbq', 'pmovzxwd', 'pmovzxwq', 'pmovzxdq',
    'pmovsxbw', 'pmovsxbd', 'pmovsxbq', 'pmovsxwd', 'pmovsxwq', 'pmovsxdq',
}
# Scalar single and double arithmetic, conversions and compares: 32 or 64 bits of memory.
SCALAR = re.compile(r'^(add|sub|mul|div|min|max|sqrt|rcp|rsqrt|round|cmp\w*)s[sd]$|'
                    r'^cvtt?s[sdi]2s[sdi]l?q?$')
TARGET_COMMENT = re.compile(r'#\s*(0x[0-9a-f]+|[0-9a-f]+)')
VECTOR_REGISTER = re.compile(r'%[xyz]mm\d+')
ABSOLUTE = re.compile(r'^(%[a-z]s:)?(0x[0-9a-f]+)$')


def split_operands(text):
    """AT&T operands, split at the commas outside parentheses and braces."""
    operands, depth, current = [], 0, ''
    for char in text:
        if char in '({':
            depth += 1
        elif char in ')}':
            depth -= 1
        if char == ',' and depth == 0:
            operands.append(current.strip())
            current = ''
        else:
            current += char
    if current.strip():
        operands.append(current.strip())
    return operands


def memory_operand(operands):
    """The operand that addresses memory, or None (registers start with %, immediates $)."""
    for operand in operands:
        bare = re.sub(r'\{[^}]*\}', '', operand)
        if '(' in bare or ABSOLUTE.match(bare):
            return bare
    return None


def static_address(operand, comment_target):
    """The fixed address a memory operand names, or None when it depends on a register."""
    if operand.endswith('(%rip)'):
        return comment_target
    match = ABSOLUTE.match(operand)
    return int(match.group(2), 16) if match else None


class Image:
    """Where a module's initialized data lies, as absolute addresses at its preferred base."""

    def __init__(self, path):
        pe = pefile.PE(path, fast_load=True)
        base = pe.OPTIONAL_HEADER.ImageBase
        self.amd64 = pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_AMD64']
        self.data = []
        for section in pe.sections:
            flags = section.Characteristics
            initialized = flags & pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_CNT_INITIALIZED_DATA']
            code = flags & pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_MEM_EXECUTE']
            if initialized and not code:
                start = base + section.VirtualAddress
                size = max(section.Misc_VirtualSize, section.SizeOfRawData)
                self.data.append((section.Name.rstrip(b'\0').decode(), start, start + size))

    def data_section(self, address, size):
        for name, start, end in self.data:
            if start <= address and address + size <= end:
                return name
        return None


STACK = re.compile(r'\(%[re](sp|bp)\)$')
WIDE_REGISTER = re.compile(r'%[yz]mm\d+')


def classify(mnemonic, operand_text, image, wide_spills_allowed=True):
    """What one instruction means for alignment: (kind, problem or None).

    kind is 'scalar' (no vector register), 'register' (vector registers only), 'memory'
    (a vector instruction that takes any address) or 'constant' (a legacy-SSE 128-bit
    operand that is a static, aligned constant).
    """
    comment = TARGET_COMMENT.search(operand_text)
    comment_target = int(comment.group(1), 16) if comment else None
    operands = split_operands(operand_text.split('#')[0])
    vector = any(VECTOR_REGISTER.search(op) for op in operands)
    if ALIGNED_MOVE.match(mnemonic):
        return 'register' if vector else 'scalar', 'aligned vector move'
    if not vector:
        return 'scalar', None
    memory = memory_operand(operands)
    if memory is None:
        return 'register', None
    wide = any(WIDE_REGISTER.search(op) for op in operands)
    if wide and not wide_spills_allowed and STACK.search(memory):
        return 'memory', 'ymm or zmm register on the stack: a 64-bit frame with unwind data is 16-byte aligned only'
    legacy = not mnemonic.startswith(('v', 'k'))
    if not legacy or mnemonic in NARROW_OR_UNALIGNED or SCALAR.match(mnemonic):
        return 'memory', None
    if not any(re.search(r'%xmm\d+', op) for op in operands):
        return 'memory', None
    address = static_address(memory, comment_target)
    if address is None:
        return 'constant', '16-byte memory operand at an address that is not fixed'
    if address % 16 != 0:
        return 'constant', '16-byte memory operand at 0x%x, not a multiple of 16' % address
    if image.data_section(address, 16) is None:
        return 'constant', '16-byte memory operand at 0x%x, outside the data sections' % address
    return 'constant', None


def check_module(objdump, path):
    """Prints what was checked in one module; returns the number of offending instructions."""
    image = Image(path)
    wide_spills_allowed = not image.amd64
    counts = {'scalar': 0, 'register': 0, 'memory': 0, 'constant': 0}
    offending = []
    for address, mnemonic, operands in instructions(objdump, path):
        kind, problem = classify(mnemonic, operands, image, wide_spills_allowed)
        counts[kind] += 1
        if problem:
            offending.append('  %s: %s %s: %s' % (address, mnemonic, operands.strip(), problem))
    total = sum(counts.values())
    vector = total - counts['scalar']
    print('%s: %d instructions, %d with vector registers: %d on registers only, %d vector '
          'memory accesses that take any address, %d legacy-SSE 16-byte operands that are '
          'static constants at multiples of 16; %d offending' %
          (path, total, vector, counts['register'], counts['memory'], counts['constant'],
           len(offending)))
    for entry in offending:
        print(entry)
    if total == 0:
        print('  no instructions found: is this a module?')
        return 1
    return len(offending)


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    objdump, modules = argv[1], argv[2:]
    failures = sum(check_module(objdump, path) for path in modules)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

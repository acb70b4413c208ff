#!/usr/bin/env python3
"""Shows, from qemu-i386's own log of what it executed, which conversion kernel the 32-bit DLL
ran on an emulated CPU model, and that it asked cpuid once in a whole decode.

spihost decodes the sample through the DLL under `qemu-i386 -cpu MODEL -d in_asm,exec,nochain`:
the log holds every block of instructions translated and every execution of one. The blocks
inside the DLL's mapping tell which instructions of the DLL ran: ymm registers (AVX2), pshufb on
xmm (SSSE3), other xmm instructions (SSE2), or none of them (scalar). Every cpuid instruction of
the DLL must run at most once, and some must run: the choice is made on the first row and kept
for the other 383.

usage: dll_trace.py QEMU MODEL HOST MODULE SAMPLE EXPECTED_PATH SCRATCH_DIR
"""
import collections
import os
import re
import subprocess
import sys

PATHS = ['scalar', 'sse2', 'ssse3', 'avx2']


def main():
    qemu, model, host, module, sample, expected, scratch = sys.argv[1:8]
    os.makedirs(scratch, exist_ok=True)
    log = os.path.join(scratch, 'qemu-%s.log' % model)
    run = subprocess.run(
        [qemu, '-cpu', model, '-d', 'in_asm,exec,nochain', '-D', log, host, 'decode',
         '--plugin', module, '-f', '-o', os.path.join(scratch, 'trace-%s.bmp' % model),
         sample],
        env=dict(os.environ, SPIQLM_PE_REPORT='1'), capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit('spihost exited %d: %s' % (run.returncode, run.stderr))
    mapped = re.search(r'mapped at 0x([0-9A-F]+) .*, 0x([0-9A-F]+) bytes', run.stderr)
    if mapped is None:
        sys.exit('the loader did not say where it mapped the DLL: %s' % run.stderr)
    start = int(mapped.group(1), 16)
    end = start + int(mapped.group(2), 16)

    blocks = collections.defaultdict(list)  # first address -> instructions, in the DLL
    runs = collections.Counter()            # first address -> executions
    block = None
    with open(log, errors='replace') as lines:
        for line in lines:
            if line.startswith('IN:'):
                block = []
                continue
            if line.startswith('Trace '):
                pc = re.search(r'\[[0-9a-f]+/([0-9a-f]+)/', line)
                if pc:
                    runs[int(pc.group(1), 16)] += 1
                continue
            instruction = re.match(r'0x([0-9a-f]+):\s+(?:[0-9a-f]{2} )+\s*(.*)', line)
            if block is not None and instruction:
                address = int(instruction.group(1), 16)
                if not block and start <= address < end:
                    blocks[address] = block
                block.append((address, instruction.group(2).strip()))
            elif not line.strip():
                block = None
    os.remove(log)

    ran = [text for first, body in blocks.items() if runs[first] for _, text in body]
    seen = 'scalar'
    if any('%xmm' in text for text in ran):
        seen = 'sse2'
    if any(text.startswith(('pshufb', 'vpshufb')) for text in ran):
        seen = 'ssse3'
    if any('%ymm' in text for text in ran):
        seen = 'avx2'
    cpuid = [(first, runs[first]) for first, body in blocks.items()
             if any(text.startswith('cpuid') for _, text in body)]
    executed = sum(count for _, count in cpuid)
    print('%s: the DLL ran its %s kernel (%d of its instruction blocks ran); '
          'its cpuid blocks ran %d times in all' % (model, seen, len([b for b in blocks if runs[b]]),
                                                   executed))
    failures = []
    if seen != expected:
        failures.append('expected the %s kernel' % expected)
    if executed == 0 or any(count > 1 for _, count in cpuid):
        failures.append('cpuid blocks ran %s times' % [count for _, count in cpuid])
    for failure in failures:
        print('FAIL %s: %s' % (model, failure))
    print('%d passed, %d failed' % (2 - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

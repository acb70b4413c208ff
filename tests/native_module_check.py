#!/usr/bin/env python3
"""The native module's dynamic symbols: it exports the five names and nothing else, and needs
nothing but the stand-in's Windows calls and a few C library functions: no allocator other than
the counted malloc, no C++ runtime.

usage: native_module_check.py MODULE
"""
import subprocess
import sys

EXPORTS = {'GetPicture', 'GetPreview', 'GetPictureInfo', 'GetPluginInfo', 'IsSupported'}
ALLOWED_IMPORTS = {
    'CreateFileA', 'ReadFile', 'SetFilePointer', 'CloseHandle', 'LocalAlloc', 'LocalLock',
    'LocalUnlock', 'LocalFree', '__wrap_malloc', '__wrap_free', 'memcpy', 'memset', 'strncpy',
    # The C library's own start-up and shut-down hooks, present in every shared library.
    '__cxa_finalize', '_ITM_registerTMCloneTable', '_ITM_deregisterTMCloneTable',
    '__gmon_start__',
}


def symbols(module, *flags):
    out = subprocess.run(['nm', '-D', *flags, module], capture_output=True, text=True,
                         check=True).stdout
    return {line.split()[-1].split('@')[0] for line in out.splitlines() if line.strip()}


def main():
    module = sys.argv[1]
    exported = symbols(module, '--defined-only')
    imported = symbols(module, '--undefined-only')
    problems = []
    if exported != EXPORTS:
        problems.append('exports %s' % sorted(exported ^ EXPORTS))
    extra = imported - ALLOWED_IMPORTS
    if extra:
        problems.append('imports %s' % sorted(extra))
    for problem in problems:
        print('FAIL', problem)
    print('%d passed, %d failed' % (2 - len(problems), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

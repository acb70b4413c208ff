#!/usr/bin/env python3
"""Reads a built spiQLM.spi back and checks what a host and Windows rely on.

usage: pe_check.py MODULE i386|amd64 OBJDUMP VERSION HOST
  VERSION  the project's version (major.minor.patch); HOST the spihost.exe of the same build
"""
import os
import re
import subprocess
import sys
import unittest

import pefile

MODULE, ARCH, OBJDUMP, VERSION, HOST = sys.argv[1:6]

EXPORTS = {1: 'GetPicture', 2: 'GetPreview', 3: 'GetPictureInfo', 4: 'GetPluginInfo',
           5: 'IsSupported'}
KERNEL32 = {'CreateFileA', 'ReadFile', 'SetFilePointer', 'CloseHandle', 'LocalAlloc',
            'LocalLock', 'LocalUnlock', 'LocalFree'}
MSVCRT_NEEDED = {'malloc', 'free', 'strncpy'}
MSVCRT_ALLOWED = MSVCRT_NEEDED | {'memcpy', 'memset'}  # what the compiler may emit


class PeLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(MODULE)

    def test_machine_and_kind(self):
        machine = {'i386': pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_I386'],
                   'amd64': pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_AMD64']}[ARCH]
        self.assertEqual(self.pe.FILE_HEADER.Machine, machine)
        self.assertTrue(self.pe.FILE_HEADER.IMAGE_FILE_DLL)
        magic = 0x10B if ARCH == 'i386' else 0x20B
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, magic)
        self.assertNotEqual(self.pe.OPTIONAL_HEADER.AddressOfEntryPoint, 0)

    def test_exports_by_name_and_ordinal(self):
        exports = {s.ordinal: s.name.decode() for s in self.pe.DIRECTORY_ENTRY_EXPORT.symbols}
        self.assertEqual(exports, EXPORTS)
        self.assertEqual(self.pe.DIRECTORY_ENTRY_EXPORT.struct.Base, 1)
        self.assertFalse(any(s.forwarder for s in self.pe.DIRECTORY_ENTRY_EXPORT.symbols))

    def test_imports_only_from_the_system(self):
        imports = {entry.dll.decode().lower(): {i.name.decode() for i in entry.imports}
                   for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertEqual(set(imports), {'kernel32.dll', 'msvcrt.dll'})
        self.assertEqual(imports['kernel32.dll'], KERNEL32)
        self.assertLessEqual(MSVCRT_NEEDED, imports['msvcrt.dll'])
        self.assertLessEqual(imports['msvcrt.dll'], MSVCRT_ALLOWED)
        self.assertFalse(hasattr(self.pe, 'DIRECTORY_ENTRY_DELAY_IMPORT'))

    def test_no_tls_callbacks_and_relocatable(self):
        self.assertFalse(hasattr(self.pe, 'DIRECTORY_ENTRY_TLS'), 'no TLS directory')
        self.assertTrue(self.pe.OPTIONAL_HEADER.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)
        self.assertTrue(hasattr(self.pe, 'DIRECTORY_ENTRY_BASERELOC'))
        self.assertTrue(self.pe.OPTIONAL_HEADER.IMAGE_DLLCHARACTERISTICS_NX_COMPAT)


# What the linker puts at the end of the code: the lists of constructors and destructors, each
# an all-ones word and a zero word with the entries between. The module has no static
# constructors, so both lists are empty.
EMPTY_CONSTRUCTOR_LISTS = (b'\xff' * 8 + b'\0' * 8) * 2
PADDING = re.compile(r'^((data16|cs|ds) )*(nop[wl]?|xchg +%ax,%ax|int3)\b')
LINE = re.compile(r'^\s*([0-9a-f]+):\s+(.*?)\s*$')
DIRECT = re.compile(r'^(call|jmp|j[a-z]+)\s+(0x)?([0-9a-f]+)\b')
THUNK = re.compile(r'^jmp\s+\*0x[0-9a-f]+\(%rip\)\s+# (0x)?([0-9a-f]+)')


@unittest.skipUnless(ARCH == 'amd64', '32-bit exceptions walk records on the stack, not tables')
class UnwindData(unittest.TestCase):
    """Windows unwinds a 64-bit frame only from its RUNTIME_FUNCTION entry: a function without
    one is taken for a leaf, and an exception or a stack walk through it goes astray."""

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(MODULE)
        cls.base = cls.pe.OPTIONAL_HEADER.ImageBase
        cls.text = next(s for s in cls.pe.sections if s.Name.rstrip(b'\0') == b'.text')
        cls.functions = [(e.struct.BeginAddress, e.struct.EndAddress, e.unwindinfo)
                         for e in getattr(cls.pe, 'DIRECTORY_ENTRY_EXCEPTION', [])]
        iat = cls.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_IAT']]
        cls.iat = (iat.VirtualAddress, iat.VirtualAddress + iat.Size)
        listing = subprocess.run([OBJDUMP, '-d', '-w', '--no-show-raw-insn', MODULE], check=True,
                                 capture_output=True, text=True).stdout
        cls.instructions = []
        for line in listing.splitlines():
            match = LINE.match(line)
            if match:
                cls.instructions.append((int(match.group(1), 16) - cls.base, match.group(2)))

    def function_at(self, rva):
        for begin, end, _ in self.functions:
            if begin <= rva < end:
                return begin, end
        return None

    def thunks(self):
        """Import thunks: a jump through the import address table, and nothing else."""
        found = set()
        for rva, text in self.instructions:
            match = THUNK.match(text)
            if match and self.iat[0] <= int(match.group(2), 16) - self.base < self.iat[1]:
                found.add(rva)
        return found

    def code_end(self):
        data = self.text.get_data()[:self.text.Misc_VirtualSize]
        self.assertTrue(data.endswith(EMPTY_CONSTRUCTOR_LISTS), 'no static constructors')
        return self.text.VirtualAddress + len(data) - len(EMPTY_CONSTRUCTOR_LISTS)

    def test_entries_are_well_formed(self):
        self.assertTrue(self.functions, 'the exception directory is empty')
        text_end = self.text.VirtualAddress + self.text.Misc_VirtualSize
        previous_end = self.text.VirtualAddress
        for begin, end, unwind in self.functions:
            with self.subTest(function='%#x-%#x' % (begin, end)):
                self.assertLessEqual(previous_end, begin, 'sorted, without overlaps')
                self.assertLess(begin, end)
                self.assertLessEqual(end, text_end)
                self.assertEqual(unwind.Version, 1)
                previous_end = end

    def test_every_instruction_has_unwind_data(self):
        # All but the padding between functions, the import thunks (a jump that leaves the
        # stack as it found it) and the empty constructor lists after the code.
        thunks, end = self.thunks(), self.code_end()
        uncovered = [(rva, text) for rva, text in self.instructions
                     if rva < end and self.function_at(rva) is None and rva not in thunks and
                     not PADDING.match(text)]
        self.assertEqual(uncovered, [], 'instructions outside every RUNTIME_FUNCTION')

    def test_every_function_starts_an_entry(self):
        # Every call target, every jump that leaves its function (a tail call), the exports
        # and the entry point begin a RUNTIME_FUNCTION, unless they are an import thunk.
        starts = {begin for begin, _, _ in self.functions}
        thunks = self.thunks()
        targets = {s.address: s.name.decode() for s in self.pe.DIRECTORY_ENTRY_EXPORT.symbols}
        targets[self.pe.OPTIONAL_HEADER.AddressOfEntryPoint] = 'the entry point'
        for rva, text in self.instructions:
            match = DIRECT.match(text)
            if not match:
                continue
            target = int(match.group(3), 16) - self.base
            if match.group(1) == 'call' or self.function_at(target) != self.function_at(rva):
                targets.setdefault(target, '%s at %#x' % (match.group(1), rva))
        for target, what in sorted(targets.items()):
            with self.subTest(target=what):
                self.assertTrue(target in starts or target in thunks,
                                '%#x begins no RUNTIME_FUNCTION' % target)
        print('\n  %d RUNTIME_FUNCTION entries; %d function starts and %d import thunks '
              'checked' % (len(self.functions), len(targets), len(thunks)), file=sys.stderr)


class VersionResource(unittest.TestCase):
    """What Windows' file properties and viewers' plug-in lists show, in both files."""

    def expected(self, path):
        common = {'FileVersion': VERSION, 'ProductVersion': VERSION, 'ProductName': 'spiQLM'}
        if path == MODULE:
            common.update(FileDescription='Quillmere to DIB filter', InternalName='spiQLM',
                          OriginalFilename=os.path.basename(MODULE))
        else:
            common.update(FileDescription='spiQLM command-line host', InternalName='spihost',
                          OriginalFilename=os.path.basename(HOST))
        return common

    def test_strings_and_numbers(self):
        numbers = [int(part) for part in VERSION.split('.')] + [0]
        packed = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
        for path, file_type in ((MODULE, 2), (HOST, 1)):  # VFT_DLL, VFT_APP
            with self.subTest(file=path):
                pe = pefile.PE(path)
                self.assertTrue(hasattr(pe, 'VS_FIXEDFILEINFO'), 'no version resource')
                fixed = pe.VS_FIXEDFILEINFO[0]
                self.assertEqual(fixed.Signature, 0xFEEF04BD)
                self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), packed)
                self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), packed)
                self.assertEqual(fixed.FileType, file_type)
                tables, translations = [], []
                for info in pe.FileInfo[0]:
                    if info.Key == b'StringFileInfo':
                        tables += info.StringTable
                    elif info.Key == b'VarFileInfo':
                        translations += [var.entry for var in info.Var]
                self.assertEqual([t.LangID for t in tables], [b'040904B0'])
                strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
                self.assertEqual(strings, self.expected(path))
                self.assertEqual(translations, [{b'Translation': '0x0409 0x04b0'}])
                print('\n  %s: %s' % (path, strings), file=sys.stderr)


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)

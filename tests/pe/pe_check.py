#!/usr/bin/env python3
"""Reads a built spiQLM.spi back and checks what a host and Windows rely on.

usage: pe_check.py MODULE i386|amd64
"""
import sys
import unittest

import pefile

MODULE, ARCH = sys.argv[1], sys.argv[2]

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


if __name__ == '__main__':
    unittest.main(argv=sys.argv[:1], verbosity=2)

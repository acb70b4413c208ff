#!/usr/bin/env python3
"""Runs the 32-bit spiQLM.spi on an emulated i386 CPU, as a viewer would on Windows.

These machines cannot execute 32-bit code, so this host maps the DLL itself, applies its
relocations at a base other than its preferred one, binds its imports to stand-ins of the
KERNEL32 and msvcrt functions written here, and calls the exports the stdcall way. After every
call it checks that the callee removed exactly its arguments and kept ebx, esi, edi and ebp.

The stand-ins keep the Windows behaviour the module relies on: movable handles that are not
addresses (nothing is mapped there, so using one as a pointer faults), 0-byte blocks that lock
to null, and counts of live files and blocks. Every block the module gets sits right before an
unmapped page and is unmapped when freed, so a read or write past its end, or after its
release, stops the run.

The CPU's answer to cpuid can be narrowed (--cpu plain|sse2|ssse3), so that each of the DLL's
conversion paths runs in turn; by default it is the emulator's own (SSE2 and SSSE3, no AVX).

usage: emulated_host.py MODULE --cases CASES [--lookup name|ordinal] [--cpu LEVEL]
"""
import argparse
import os
import struct
import sys
import tempfile

import pefile
from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_32, UC_HOOK_INTR, UC_HOOK_INSN
from unicorn import UC_PROT_ALL
from unicorn import x86_const as x86

PAGE = 0x1000
LOAD_BASE = 0x10000000      # never the DLL's preferred base, so relocations must be right
THUNKS = 0x00F00000         # one 8-byte thunk per import: int 0x80, then ret or ret N
STACK_TOP = 0x00E00000
STACK_SIZE = 0x100000
HEAP = 0x20000000           # each block on pages of its own, followed by an unmapped page
MOVABLE_HANDLES = 0x00A00000  # handle values of movable blocks: never mapped
FILE_HANDLES = 0x100          # small, as Windows file handles are
RETURN_SENTINEL = THUNKS + 0xFF0
CALLEE_SAVED = {'ebx': x86.UC_X86_REG_EBX, 'esi': x86.UC_X86_REG_ESI,
                'edi': x86.UC_X86_REG_EDI, 'ebp': x86.UC_X86_REG_EBP}
INVALID_HANDLE_VALUE = 0xFFFFFFFF
INVALID_SET_FILE_POINTER = 0xFFFFFFFF
LMEM_MOVEABLE, LMEM_ZEROINIT = 0x2, 0x40
# Arguments each export takes, in bytes: what the callee must remove.
EXPORT_ARGS = {'GetPicture': 28, 'GetPreview': 28, 'GetPictureInfo': 16, 'GetPluginInfo': 12,
               'IsSupported': 8}
EXPORT_ORDINALS = {'GetPicture': 1, 'GetPreview': 2, 'GetPictureInfo': 3, 'GetPluginInfo': 4,
                   'IsSupported': 5}
FALLIBLE = ('CreateFileA', 'ReadFile', 'SetFilePointer', 'LocalAlloc', 'LocalLock', 'malloc')


class Fault(Exception):
    """The module broke a rule a Windows host relies on."""


class Machine:
    """The emulated CPU, the loaded module and the stand-ins of its imports."""

    def __init__(self, module_path, lookup, cpu):
        self.uc = Uc(UC_ARCH_X86, UC_MODE_32)
        self.cpuid_calls = 0
        if cpu is not None:
            self.features = {'plain': (0, 0), 'sse2': (1 << 26, 0),
                             'ssse3': (1 << 26, 1 << 9)}[cpu]
            self.uc.hook_add(UC_HOOK_INSN, self.on_cpuid, None, 1, 0, x86.UC_X86_INS_CPUID)
        self.uc.mem_map(STACK_TOP - STACK_SIZE, STACK_SIZE, UC_PROT_ALL)
        self.uc.mem_map(THUNKS, PAGE, UC_PROT_ALL)
        self.next_heap = HEAP
        self.mappings = {}      # address -> (mapping start, mapping size), for every block
        self.blocks = {}        # movable handle -> [address or 0, size, locks]
        self.next_handle = MOVABLE_HANDLES
        self.files = {}         # handle -> Python file
        self.next_file = FILE_HANDLES
        self.mallocs = set()
        self.calls = dict.fromkeys(FALLIBLE, 0)
        self.fail_at = dict.fromkeys(FALLIBLE, 0)
        self.progress = None    # Python function called for the module's progress callback
        self.thunks = []
        self.load(module_path)
        self.exports = self.resolve_exports(lookup)
        self.callback = self.add_thunk('progress callback', self.progress_callback, 12)
        self.uc.mem_write(RETURN_SENTINEL, b'\xf4')
        self.uc.hook_add(UC_HOOK_INTR, self.on_interrupt)

    # --- loading -------------------------------------------------------------------------
    def load(self, path):
        pe = pefile.PE(path)
        preferred = pe.OPTIONAL_HEADER.ImageBase
        if LOAD_BASE == preferred:
            raise Fault('load base equals the preferred base; relocations would go untested')
        pe.relocate_image(LOAD_BASE)
        image = pe.get_memory_mapped_image(ImageBase=LOAD_BASE)
        size = (pe.OPTIONAL_HEADER.SizeOfImage + PAGE - 1) // PAGE * PAGE
        self.uc.mem_map(LOAD_BASE, size, UC_PROT_ALL)
        self.uc.mem_write(LOAD_BASE, bytes(image))
        self.pe = pe
        for entry in pe.DIRECTORY_ENTRY_IMPORT:
            dll = entry.dll.decode().lower()
            for imported in entry.imports:
                name = imported.name.decode()
                function, arg_bytes = self.stand_in(dll, name)
                thunk = self.add_thunk(name, function, arg_bytes)
                # pefile keeps the slot's address relative to the base it last relocated to.
                slot = imported.address - pe.OPTIONAL_HEADER.ImageBase + LOAD_BASE
                self.uc.mem_write(slot, struct.pack('<I', thunk))
        self.entry = LOAD_BASE + pe.OPTIONAL_HEADER.AddressOfEntryPoint

    def resolve_exports(self, lookup):
        table = {}
        for symbol in self.pe.DIRECTORY_ENTRY_EXPORT.symbols:
            name = symbol.name.decode() if symbol.name else None
            table['name', name] = table['ordinal', symbol.ordinal] = LOAD_BASE + symbol.address
        if lookup == 'name':
            return {name: table['name', name] for name in EXPORT_ARGS}
        return {name: table['ordinal', EXPORT_ORDINALS[name]] for name in EXPORT_ARGS}

    def stand_in(self, dll, name):
        kernel32 = {'CreateFileA': 28, 'ReadFile': 20, 'SetFilePointer': 16, 'CloseHandle': 4,
                    'LocalAlloc': 8, 'LocalLock': 4, 'LocalUnlock': 4, 'LocalFree': 4}
        msvcrt = {'malloc', 'free', 'memcpy', 'memset', 'strncpy'}
        if dll == 'kernel32.dll' and name in kernel32:
            return getattr(self, name), kernel32[name]
        if dll == 'msvcrt.dll' and name in msvcrt:
            return getattr(self, 'crt_' + name), 0  # cdecl: the caller removes the arguments
        raise Fault('unexpected import %s!%s' % (dll, name))

    def add_thunk(self, name, function, arg_bytes):
        address = THUNKS + 8 * len(self.thunks)
        ret = b'\xc3' if arg_bytes == 0 else b'\xc2' + struct.pack('<H', arg_bytes)
        self.uc.mem_write(address, b'\xcd\x80' + ret)
        self.thunks.append((name, function))
        return address

    # --- the CPU side --------------------------------------------------------------------
    def on_interrupt(self, uc, number, _):
        eip = uc.reg_read(x86.UC_X86_REG_EIP)
        index = (eip - 2 - THUNKS) // 8
        if number != 0x80 or not 0 <= index < len(self.thunks):
            self.error = Fault('unexpected interrupt %#x at %#x' % (number, eip))
            uc.emu_stop()
            return
        name, function = self.thunks[index]
        esp = uc.reg_read(x86.UC_X86_REG_ESP)
        try:
            args = lambda n: struct.unpack('<%dI' % n, uc.mem_read(esp + 4, 4 * n))
            result = function(args)
        except (Fault, UcError) as error:
            self.error = Fault('%s: %s' % (name, error))
            uc.emu_stop()
            return
        uc.reg_write(x86.UC_X86_REG_EAX, (result or 0) & 0xFFFFFFFF)

    def on_cpuid(self, uc, _):
        """A CPU with only the chosen features: SSE2 in edx, SSSE3 in ecx, never AVX."""
        leaf = uc.reg_read(x86.UC_X86_REG_EAX)
        edx, ecx = self.features
        values = {0: (1, 0x756E6547, 0x6C65746E, 0x49656E69),  # "GenuineIntel", top leaf 1
                  1: (0x00000633, 0, ecx, edx | 1)}.get(leaf, (0, 0, 0, 0))
        for register, value in zip((x86.UC_X86_REG_EAX, x86.UC_X86_REG_EBX,
                                    x86.UC_X86_REG_ECX, x86.UC_X86_REG_EDX), values):
            uc.reg_write(register, value)
        self.cpuid_calls += 1
        return True  # the instruction itself is skipped

    def call(self, export, *args):
        """Calls an export the stdcall way; checks stack balance and callee-saved registers."""
        esp = STACK_TOP - 0x100
        words = [RETURN_SENTINEL] + [a & 0xFFFFFFFF for a in args]
        self.uc.mem_write(esp - 4 * len(words), struct.pack('<%dI' % len(words), *words))
        self.uc.reg_write(x86.UC_X86_REG_ESP, esp - 4 * len(words))
        saved = {}
        for i, (name, register) in enumerate(CALLEE_SAVED.items()):
            saved[name] = 0x5EED0000 + i
            self.uc.reg_write(register, saved[name])
        self.error = None
        try:
            self.uc.emu_start(self.exports[export], RETURN_SENTINEL, count=200_000_000)
        except UcError as error:
            eip = self.uc.reg_read(x86.UC_X86_REG_EIP)
            raise Fault('%s faulted at %#x: %s' % (export, eip, error)) from None
        if self.error is not None:
            raise self.error
        if self.uc.reg_read(x86.UC_X86_REG_EIP) != RETURN_SENTINEL:
            raise Fault('%s did not return' % export)
        removed = self.uc.reg_read(x86.UC_X86_REG_ESP) - (esp - 4 * len(words)) - 4
        if removed != EXPORT_ARGS[export]:
            raise Fault('%s removed %d bytes of arguments, not %d'
                        % (export, removed, EXPORT_ARGS[export]))
        for name, register in CALLEE_SAVED.items():
            if self.uc.reg_read(register) != saved[name]:
                raise Fault('%s did not keep %s' % (export, name))
        result = self.uc.reg_read(x86.UC_X86_REG_EAX)
        return result - (1 << 32) if result & 0x80000000 else result

    def call_entry_point(self):
        """DllMain-style call of the entry point: it must do no work and answer TRUE."""
        esp = STACK_TOP - 0x100
        words = [RETURN_SENTINEL, LOAD_BASE, 1, 0]  # instance, DLL_PROCESS_ATTACH, reserved
        self.uc.mem_write(esp - 16, struct.pack('<4I', *words))
        self.uc.reg_write(x86.UC_X86_REG_ESP, esp - 16)
        self.uc.emu_start(self.entry, RETURN_SENTINEL, count=1000)
        if self.uc.reg_read(x86.UC_X86_REG_ESP) != esp:
            raise Fault('the entry point did not remove its 12 bytes')
        return self.uc.reg_read(x86.UC_X86_REG_EAX)

    # --- memory --------------------------------------------------------------------------
    def map_block(self, size):
        """Maps `size` bytes ending right before an unmapped page; returns their address."""
        pages = max(1, (size + PAGE - 1) // PAGE)
        start = self.next_heap
        self.next_heap += (pages + 1) * PAGE
        if self.next_heap >= 0xF0000000:
            raise Fault('emulated address space used up')
        self.uc.mem_map(start, pages * PAGE, UC_PROT_ALL)
        address = start + pages * PAGE - size
        # Memory the module did not ask to be zeroed is not.
        self.uc.mem_write(start, b'\xcd' * (pages * PAGE))
        self.mappings[address] = (start, pages * PAGE)
        return address

    def unmap_block(self, address):
        start, size = self.mappings.pop(address)
        self.uc.mem_unmap(start, size)

    def host_buffer(self, data, extra=0):
        """Host memory holding `data`; nothing readable after its last byte."""
        address = self.map_block(len(data) + extra)
        self.uc.mem_write(address, bytes(data) + b'\xab' * extra)
        return address

    def read_string(self, address, limit=4096):
        data = bytearray()
        while len(data) < limit:
            byte = self.uc.mem_read(address + len(data), 1)[0]
            if byte == 0:
                return bytes(data)
            data.append(byte)
        raise Fault('unterminated string')

    def fails(self, name):
        self.calls[name] += 1
        if self.fail_at[name] and self.calls[name] == self.fail_at[name]:
            self.fail_at[name] = 0
            return True
        return False

    # --- KERNEL32 stand-ins (stdcall) ----------------------------------------------------
    def CreateFileA(self, args):
        name, access, share, security, disposition, attributes, template = args(7)
        if self.fails('CreateFileA'):
            return INVALID_HANDLE_VALUE
        if access != 0x80000000 or disposition != 3 or security or template:
            raise Fault('CreateFileA asked for more than reading an existing file')
        if share != 1 or attributes != 0x80:
            raise Fault('CreateFileA without FILE_SHARE_READ and FILE_ATTRIBUTE_NORMAL')
        if name == 0:
            return INVALID_HANDLE_VALUE
        path = self.read_string(name).decode('latin-1')
        if not path or not os.path.isfile(path):
            return INVALID_HANDLE_VALUE
        handle = self.next_file
        self.next_file += 4
        self.files[handle] = open(path, 'rb')
        return handle

    def ReadFile(self, args):
        handle, buffer, count, read_out, overlapped = args(5)
        if read_out:
            self.uc.mem_write(read_out, struct.pack('<I', 0))
        if self.fails('ReadFile') or handle not in self.files or overlapped:
            return 0
        data = self.files[handle].read(count)
        if data:
            self.uc.mem_write(buffer, data)
        if read_out:
            self.uc.mem_write(read_out, struct.pack('<I', len(data)))
        return 1

    def SetFilePointer(self, args):
        handle, low, high_address, method = args(4)
        if self.fails('SetFilePointer') or handle not in self.files or method > 2:
            return INVALID_SET_FILE_POINTER
        if high_address:
            high = struct.unpack('<i', self.uc.mem_read(high_address, 4))[0]
            distance = (high << 32) | low
        else:
            distance = low - (1 << 32) if low & 0x80000000 else low
        file = self.files[handle]
        base = {0: 0, 1: file.tell(), 2: os.fstat(file.fileno()).st_size}[method]
        position = base + distance
        if position < 0 or (not high_address and position > 0xFFFFFFFE):
            return INVALID_SET_FILE_POINTER
        file.seek(position)
        if high_address:
            self.uc.mem_write(high_address, struct.pack('<I', position >> 32))
        return position & 0xFFFFFFFF

    def CloseHandle(self, args):
        (handle,) = args(1)
        file = self.files.pop(handle, None)
        if file is None:
            return 0
        file.close()
        return 1

    def LocalAlloc(self, args):
        flags, size = args(2)
        if self.fails('LocalAlloc'):
            return 0
        if flags != LMEM_MOVEABLE | LMEM_ZEROINIT:
            raise Fault('LocalAlloc flags %#x, not LMEM_MOVEABLE | LMEM_ZEROINIT' % flags)
        address = 0
        if size:
            address = self.map_block(size)
            self.uc.mem_write(address, bytes(size))
        handle = self.next_handle
        self.next_handle += 16
        self.blocks[handle] = [address, size, 0]
        return handle

    def LocalLock(self, args):
        (handle,) = args(1)
        if self.fails('LocalLock') or handle not in self.blocks:
            return 0
        block = self.blocks[handle]
        if block[0] == 0:
            return 0  # a 0-byte movable block has no memory to lock
        block[2] += 1
        return block[0]

    def LocalUnlock(self, args):
        (handle,) = args(1)
        block = self.blocks.get(handle)
        if block is None or block[2] == 0:
            return 0
        block[2] -= 1
        return 1 if block[2] else 0

    def LocalFree(self, args):
        (handle,) = args(1)
        block = self.blocks.pop(handle, None)
        if block is None:
            return handle
        if block[0]:
            self.unmap_block(block[0])
        return 0

    def LocalSize(self, handle):
        block = self.blocks.get(handle)
        return block[1] if block else 0

    # --- msvcrt stand-ins (cdecl) --------------------------------------------------------
    def crt_malloc(self, args):
        (size,) = args(1)
        if self.fails('malloc'):
            return 0
        address = self.map_block(size)
        self.mallocs.add(address)
        return address

    def crt_free(self, args):
        (address,) = args(1)
        if address == 0:
            return 0
        if address not in self.mallocs:
            raise Fault('free of %#x, which malloc did not give' % address)
        self.mallocs.remove(address)
        self.unmap_block(address)
        return 0

    def crt_memcpy(self, args):
        destination, source, count = args(3)
        if count:
            self.uc.mem_write(destination, bytes(self.uc.mem_read(source, count)))
        return destination

    def crt_memset(self, args):
        destination, value, count = args(3)
        if count:
            self.uc.mem_write(destination, bytes([value & 0xFF]) * count)
        return destination

    def crt_strncpy(self, args):
        destination, source, count = args(3)
        text = self.read_string(source)[:count]
        self.uc.mem_write(destination, text + bytes(count - len(text)))
        return destination

    # --- the host's callback -------------------------------------------------------------
    def progress_callback(self, args):
        numerator, denominator, data = args(3)
        return self.progress(numerator, denominator, data) if self.progress else 0

    def live(self):
        return len(self.files), len(self.blocks), len(self.mallocs)

    def reset(self):
        """After a fault: drops what the module left, so later checks start clean."""
        for file in self.files.values():
            file.close()
        self.files.clear()
        for address, _, _ in self.blocks.values():
            if address:
                self.unmap_block(address)
        self.blocks.clear()
        for address in self.mallocs:
            self.unmap_block(address)
        self.mallocs.clear()
        self.fail_at = dict.fromkeys(FALLIBLE, 0)


# --- the pictures, computed from the pixel rule as the native suite does ----------------------
def pattern_word(x, y, width, height):
    return (x * 40503 + y * 9973 + width * 7 + height * 13) & 0xFFFF


def make_qlm(width, height):
    data = bytearray(struct.pack('>HH', width, height))
    if width <= 512 and height <= 512:
        for y in range(height):
            for x in range(width):
                data += struct.pack('>H', pattern_word(x, y, width, height))
    return data


def stride_of(width):
    return (width * 3 + 3) // 4 * 4


def expected_pixels(width, height, rows_done):
    def expand(c):
        return (c << 3) | (c >> 2)
    stride = stride_of(width)
    pixels = bytearray(stride * height)
    for y in range(rows_done):
        at = (height - 1 - y) * stride
        for x in range(width):
            word = pattern_word(x, y, width, height)
            pixels[at + 3 * x:at + 3 * x + 3] = bytes(
                [expand((word >> 1) & 31), expand(word >> 11), expand((word >> 6) & 31)])
    return bytes(pixels)


def expected_info(width, height):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0,
                       stride_of(width) * height, 0, 0, 0, 0) + bytes(4)


def parse_cases(path):
    cases = []
    with open(path) as f:
        for line in f:
            if not line.strip() or line.startswith('#'):
                continue
            name, mode, w, h, delta, cancel, picture, info, supported = line.split()
            cases.append(dict(name=name, mode=mode, width=int(w), height=int(h),
                              delta=int(delta), cancel=-1 if cancel == '-' else int(cancel),
                              picture=int(picture), info=int(info), supported=int(supported)))
    return cases


class Suite:
    """The conformance cases and checks, as the native suite runs them."""

    def __init__(self, machine, scratch):
        self.m = machine
        self.scratch = scratch
        self.passed = self.failed = 0

    def check(self, name, function):
        try:
            problems = []
            function(lambda ok, what: ok or problems.append(what))
        except Fault as fault:
            problems = ['fault: %s' % fault]
            self.m.reset()
        for problem in problems:
            print('FAIL %s: %s' % (name, problem))
        if problems:
            self.failed += 1
        else:
            self.passed += 1

    def string(self, text):
        return self.m.host_buffer(text.encode('latin-1') + b'\0')

    def source_for(self, case, image):
        """The `source` and `length` arguments for a case, and the path of its file if any."""
        exact = len(image)
        if case['mode'] == 'memory':
            extra = max(case['delta'], 0)
            return self.m.host_buffer(image, extra), exact + case['delta'], 0x101
        path = os.path.join(self.scratch, case['name'] + '.qlm')
        data = image + b'\xab' * max(case['delta'], 0)
        with open(path, 'wb') as f:
            f.write(data[:exact + case['delta']])
        return self.string(path), 1, 0x100

    def decode_case(self, case):
        def run(expect):
            m, w, h = self.m, case['width'], case['height']
            image = make_qlm(w, h)
            source, length, flags = self.source_for(case, image)
            before = m.live()
            calls = []
            m.progress = lambda n, d, data: (calls.append((n, d, data)), int(n == case['cancel']))[1]
            outs = m.host_buffer(struct.pack('<II', 1, 1))
            result = m.call('GetPicture', source, length, flags, outs, outs + 4, m.callback,
                            0x2468ACE)
            expect(result == case['picture'], 'GetPicture gave %d, want %d'
                   % (result, case['picture']))
            want_calls = {0: h, 1: case['cancel'] + 1}.get(result, 0)
            expect(calls == [(i, h, 0x2468ACE) for i in range(want_calls)],
                   'progress calls %s' % calls[:5])
            info, pixels = struct.unpack('<II', m.uc.mem_read(outs, 8))
            if result in (0, 1):
                rows = h if result == 0 else case['cancel'] + 1
                self.check_blocks(expect, w, h, rows, info, pixels)
            else:
                expect(info == 0 and pixels == 0, 'no handle left after a failure')
            record = m.host_buffer(b'\xee' * 26)
            result = m.call('GetPictureInfo', source, length, flags, record)
            expect(result == case['info'], 'GetPictureInfo gave %d' % result)
            fields = struct.unpack('<iiiiHHhI', m.uc.mem_read(record, 26))
            if result == 0:
                expect(fields == (0, 0, w, h, 0, 0, 24, 0), 'PictureInfo %s' % (fields,))
            else:
                expect(bytes(m.uc.mem_read(record, 26)) == b'\xee' * 26, 'record touched')
            if case['mode'] == 'memory':
                supported = m.call('IsSupported', 0, source)
            else:
                supported = m.call('IsSupported', source, 0x1C)
            expect(supported == case['supported'], 'IsSupported gave %d' % supported)
            expect(m.live() == before, 'left behind: %s, was %s' % (m.live(), before))
        self.check('%s/%s' % (case['name'], case['mode']), run)

    def check_blocks(self, expect, w, h, rows, info, pixels):
        m = self.m
        expect(m.LocalSize(info) == 44, 'information block size')
        want = expected_pixels(w, h, rows)
        expect(m.LocalSize(pixels) == len(want), 'pixel block size %d' % m.LocalSize(pixels))
        for handle in (info, pixels):
            expect(handle in m.blocks and m.blocks[handle][2] == 0, 'block handed over unlocked')
        address = m.blocks[info][0]
        expect(bytes(m.uc.mem_read(address, 44)) == expected_info(w, h), 'information block')
        address = m.blocks[pixels][0]
        if want:
            expect(bytes(m.uc.mem_read(address, len(want))) == want, 'pixel block bytes')
        else:
            expect(address == 0, 'an empty pixel block has no memory')
        m.LocalFree(lambda n: (info,))
        m.LocalFree(lambda n: (pixels,))

    def plugin_info(self):
        rows = [(0, 256, b'00IN', 4), (1, 256, b'Quillmere to DIB filter', 23),
                (2, 256, b'*.QLM', 5), (3, 256, b'Quillmere', 9), (4, 256, b'', 0),
                (-1, 256, b'', 0), (1, 5, b'Quill', 5), (0, 4, b'00IN', 4)]
        for number, length, text, result in rows:
            def run(expect):
                buffer = self.m.host_buffer(b'\x5a' * (length + 1))
                got = self.m.call('GetPluginInfo', number, buffer, length)
                expect(got == result, 'returned %d' % got)
                data = bytes(self.m.uc.mem_read(buffer, length + 1))
                expect(data.startswith(text), 'text %r' % data[:30])
                if result and len(text) < length:
                    expect(data[len(text):length] == bytes(length - len(text)), 'NUL fill')
                expect(data[length] == 0x5A, 'wrote past the buffer')
            self.check('GetPluginInfo(%d, %d)' % (number, length), run)

        def run(expect):
            expect(self.m.call('GetPluginInfo', 0, 0, 256) == 0, 'null buffer')
            byte = self.m.host_buffer(b'\x5a')
            expect(self.m.call('GetPluginInfo', 0, byte, 0) == 0, 'length 0')
            expect(self.m.uc.mem_read(byte, 1) == b'\x5a', 'nothing written for length 0')
        self.check('GetPluginInfo with no buffer', run)

    def queries(self):
        def run(expect):
            m = self.m
            for head, want in [(b'\x01\x40\x00\xf0', 1), (b'\x4d\x5a\x90\x00', 0),
                               (b'\x02\x00\x02\x00', 1), (b'\xff\xff\x00\x01', 0)]:
                buffer = m.host_buffer(head + bytes(2044))
                expect(m.call('IsSupported', self.string('x.qlm'), buffer) == want,
                       'IsSupported head %s' % head.hex())
            missing = self.string(os.path.join(self.scratch, 'missing.qlm'))
            expect(m.call('IsSupported', missing, 0x1C) == 0, 'missing file supported')
            outs = m.host_buffer(bytes(8))
            expect(m.call('GetPicture', missing, 0, 0, outs, outs + 4, 0, 0) == 2, 'missing')
            expect(m.call('GetPicture', 0, 0, 0, outs, outs + 4, 0, 0) == 2, 'null source')
            image = m.host_buffer(b'\x00\x02\x00\x01\xf8\x00\x07\xc0')
            expect(m.call('GetPicture', image, 8, 1, 0, outs + 4, 0, 0) == 2, 'null handle')
            expect(m.call('GetPictureInfo', image, 8, 1, 0) == 2, 'null record')
            expect(m.call('GetPreview', 0, 0, 0, 0, 0, 0, 0) == -1, 'GetPreview')
            expect(m.call('GetPreview', image, 8, 1, outs, outs + 4, m.callback, 0) == -1,
                   'GetPreview with a picture')
            expect(m.call('GetPicture', image, 8, 1, outs, outs + 4, 0, 0) == 0, 'no callback')
            info, pixels = struct.unpack('<II', m.uc.mem_read(outs, 8))
            expect(bytes(m.uc.mem_read(m.blocks[pixels][0], 8)) ==
                   b'\x00\xff\x00\x00\x00\xff\x00\x00', 'green then red')
            m.LocalFree(lambda n: (info,))
            m.LocalFree(lambda n: (pixels,))
            expect(m.live() == (0, 0, 0), 'left behind')
        self.check('queries and refusals', run)

    def failure_injection(self):
        """Fails each fallible call of a decode in turn, in both modes."""
        image = make_qlm(5, 3)
        path = os.path.join(self.scratch, 'injected.qlm')
        with open(path, 'wb') as f:
            f.write(image)
        points = 0
        for mode, source, flags in (('file', self.string(path), 0),
                                    ('memory', self.m.host_buffer(image), 1)):
            m = self.m
            outs = m.host_buffer(bytes(8))
            m.progress = None
            m.calls = dict.fromkeys(FALLIBLE, 0)
            assert m.call('GetPicture', source, len(image), flags, outs, outs + 4, 0, 0) == 0
            for handle in struct.unpack('<II', m.uc.mem_read(outs, 8)):
                m.LocalFree(lambda n, h=handle: (h,))
            made = dict(m.calls)
            for name in FALLIBLE:
                for nth in range(1, made[name] + 1):
                    want = 4 if name in ('LocalAlloc', 'LocalLock', 'malloc') else (
                        6 if name == 'CreateFileA' and nth == 2 else 2)

                    def run(expect):
                        m.calls = dict.fromkeys(FALLIBLE, 0)
                        m.fail_at[name] = nth
                        result = m.call('GetPicture', source, len(image), flags, outs, outs + 4,
                                        0, 0)
                        m.fail_at[name] = 0
                        expect(result == want, 'gave %d, want %d' % (result, want))
                        expect(m.live() == (0, 0, 0), 'left behind %s' % (m.live(),))
                    self.check('%s: %s #%d fails' % (mode, name, nth), run)
                    points += 1
        print('injected failure points: %d' % points)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('module')
    parser.add_argument('--cases', required=True)
    parser.add_argument('--lookup', choices=('name', 'ordinal'), default='name')
    parser.add_argument('--cpu', choices=('plain', 'sse2', 'ssse3'),
                        help="narrow cpuid's answer to these features")
    options = parser.parse_args()
    machine = Machine(options.module, options.lookup, options.cpu)
    with tempfile.TemporaryDirectory() as scratch:
        suite = Suite(machine, scratch)
        suite.check('entry point', lambda expect: expect(machine.call_entry_point() == 1,
                                                         'DllMain answer'))
        for case in parse_cases(options.cases):
            suite.decode_case(case)
        suite.plugin_info()
        suite.queries()
        suite.failure_injection()
    if options.cpu is not None:
        # Asked once for the top leaf and once for the features, in the whole run: the choice
        # is made on the first decode and recorded.
        suite.check('cpuid asked once', lambda expect: expect(
            machine.cpuid_calls == 2, 'cpuid answered %d times' % machine.cpuid_calls))
    print('%d passed, %d failed' % (suite.passed, suite.failed))
    return 0 if suite.failed == 0 and suite.passed > 0 else 1


if __name__ == '__main__':
    sys.exit(main())

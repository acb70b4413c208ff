#!/usr/bin/env python3
"""The alignment guard's verdicts on instructions as objdump prints them.

Each row is one line of a listing with the verdict the guard must give, so the guard is known
to catch what it is for before it passes a real DLL.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import alignment_check  # noqa: E402


class FakeImage:
    """.rdata from 0x1000 to 0x1100 and .data from 0x2000 to 0x2010."""

    def data_section(self, address, size):
        for name, start, end in (('.rdata', 0x1000, 0x1100), ('.data', 0x2000, 0x2010)):
            if start <= address and address + size <= end:
                return name
        return None


# (instruction, operands, fails)
CASES = [
    # Aligned moves fail whatever they move.
    ('movdqa', '%xmm1,%xmm0', True),
    ('movaps', '(%rsp),%xmm6', True),
    ('movapd', '%xmm0,0x10(%esp)', True),
    ('vmovdqa', '%ymm0,0x20(%rsp)', True),
    ('vmovaps', '%ymm1,%ymm2', True),
    ('vmovapd', '0x40(%rax),%zmm3', True),
    ('vmovdqa64', '%zmm0,(%rcx){%k1}', True),
    ('vmovdqa32', '0x1000,%zmm1', True),
    ('movntdq', '%xmm0,0x10(%rcx)', True),
    ('movntdqa', '(%rax),%xmm0', True),
    ('vmovntps', '%ymm0,(%rdi)', True),
    # Legacy-SSE 16-byte operands: only a static constant at a multiple of 16 in data passes.
    ('pand', '0x1070,%xmm0', False),
    ('pshufb', '0x1567(%rip),%xmm2        # 0x1080', False),
    ('pshufb', '0x1567(%rip),%xmm2        # 1090 <.rdata+0x90>', False),
    ('pmulhuw', '0x2000,%xmm0', False),
    ('pand', '0x1078,%xmm0', True),
    ('pshufb', '0x1567(%rip),%xmm2        # 0x1088', True),
    ('pand', '0x10f8,%xmm0', True),
    ('pand', '0x3000,%xmm0', True),
    ('pand', '0x1000(,%eax,4),%xmm0', True),
    ('paddb', '(%rcx),%xmm0', True),
    ('pxor', '-0x18(%ebp),%xmm1', True),
    ('pshufd', '$0x1b,(%eax),%xmm1', True),
    ('punpcklbw', '0x10(%rsp),%xmm2', True),
    ('addps', '(%rax),%xmm0', True),
    # Unaligned moves, narrow operands and scalar arithmetic take any address.
    ('movdqu', '(%rdx),%xmm0', False),
    ('movups', '%xmm6,(%rsp)', False),
    ('movq', '%xmm0,-0x8(%eax)', False),
    ('movd', '(%eax),%xmm1', False),
    ('pinsrw', '$0x3,0x2(%rax),%xmm0', False),
    ('pextrw', '$0x1,%xmm0,(%rcx)', False),
    ('addss', '(%rax),%xmm0', False),
    ('cvtsi2sdl', '0x4(%esp),%xmm0', False),
    ('pmovzxbw', '(%rax),%xmm0', False),
    # VEX and EVEX encodings take any address, except for the aligned moves above.
    ('vpshufb', '(%rax),%ymm1,%ymm2', False),
    ('vmovdqu8', '%zmm0,0x40(%rdi){%k1}', False),
    ('vpandd', '0x1(%rip){1to16},%zmm1,%zmm2        # 0x1001', False),
    ('vpand', '0x18(%esp),%xmm1,%xmm2', False),
    # Registers only, MMX and general-purpose instructions are no concern.
    ('pand', '%xmm1,%xmm0', False),
    ('paddw', '(%eax),%mm0', False),
    ('mov', '0x10(%rsp),%rax', False),
    ('movq', '$0x0,0x30(%rsp)', False),
]


# Wide registers on the stack: (instruction, operands, fails in a 64-bit module). A 32-bit
# kernel realigns its frame, so the same lines pass there.
WIDE_SPILLS = [
    ('vmovdqu', '%ymm0,0x40(%rsp)', True),
    ('vpand', '0x80(%rsp),%ymm6,%ymm6', True),
    ('vmovdqu64', '%zmm1,-0x40(%rbp)', True),
    ('vmovdqu', '%ymm0,0x40(%rax)', False),
    ('vpshufb', '0x20(%rsp),%xmm0,%xmm0', False),
    ('vmovdqu', '0x40(%rsp,%rax,1),%ymm1', False),
]


class Classify(unittest.TestCase):
    def test_cases(self):
        image = FakeImage()
        for mnemonic, operands, fails in CASES:
            with self.subTest(instruction='%s %s' % (mnemonic, operands)):
                _, problem = alignment_check.classify(mnemonic, operands, image)
                self.assertEqual(problem is not None, fails, problem)

    def test_wide_registers_on_the_stack(self):
        image = FakeImage()
        for mnemonic, operands, fails in WIDE_SPILLS:
            with self.subTest(instruction='%s %s' % (mnemonic, operands)):
                _, problem = alignment_check.classify(mnemonic, operands, image, False)
                self.assertEqual(problem is not None, fails, problem)
                _, problem = alignment_check.classify(mnemonic, operands, image, True)
                self.assertIsNone(problem)


if __name__ == '__main__':
    unittest.main(verbosity=2)

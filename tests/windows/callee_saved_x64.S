// int RunWithRegisters(const Registers* load, Registers* after, int (*body)(void*), void* context)
//
// Calls body(context) with every register a Win64 callee must keep (rbx, rbp, rdi, rsi,
// r12-r15, xmm6-xmm15) set from *load, stores what they hold once body returns into *after,
// and returns body's result with the caller's own registers back in place.
//
// When an exception thrown below body is caught inside body, the registers body then returns
// with are what unwinding restored from the frames in between: the module's, for the registers
// body does not save itself (and the body in unwind_test.cpp saves none). A frame without
// unwind data leaves the values its own code put there.
//
// Registers: eight 64-bit general registers in the order above, then ten 16-byte xmm values.

        .text
        .globl  RunWithRegisters
        .globl  RunWithRegistersReturn
        .def    RunWithRegisters; .scl 2; .type 32; .endef
        .seh_proc RunWithRegisters
RunWithRegisters:
        pushq   %rbx
        .seh_pushreg %rbx
        pushq   %rbp
        .seh_pushreg %rbp
        pushq   %rdi
        .seh_pushreg %rdi
        pushq   %rsi
        .seh_pushreg %rsi
        pushq   %r12
        .seh_pushreg %r12
        pushq   %r13
        .seh_pushreg %r13
        pushq   %r14
        .seh_pushreg %r14
        pushq   %r15
        .seh_pushreg %r15
        // 32 bytes for body's home area, 16 for `after`, 160 for the caller's xmm6-xmm15, and 8
        // to bring the stack back to a multiple of 16 at the call.
        subq    $216, %rsp
        .seh_stackalloc 216
        movups  %xmm6, 48(%rsp)
        .seh_savexmm %xmm6, 48
        movups  %xmm7, 64(%rsp)
        .seh_savexmm %xmm7, 64
        movups  %xmm8, 80(%rsp)
        .seh_savexmm %xmm8, 80
        movups  %xmm9, 96(%rsp)
        .seh_savexmm %xmm9, 96
        movups  %xmm10, 112(%rsp)
        .seh_savexmm %xmm10, 112
        movups  %xmm11, 128(%rsp)
        .seh_savexmm %xmm11, 128
        movups  %xmm12, 144(%rsp)
        .seh_savexmm %xmm12, 144
        movups  %xmm13, 160(%rsp)
        .seh_savexmm %xmm13, 160
        movups  %xmm14, 176(%rsp)
        .seh_savexmm %xmm14, 176
        movups  %xmm15, 192(%rsp)
        .seh_savexmm %xmm15, 192
        .seh_endprologue

        movq    %rdx, 32(%rsp)
        movq    %rcx, %r10
        movq    %r8, %rax
        movq    %r9, %rcx
        movq    0(%r10), %rbx
        movq    8(%r10), %rbp
        movq    16(%r10), %rdi
        movq    24(%r10), %rsi
        movq    32(%r10), %r12
        movq    40(%r10), %r13
        movq    48(%r10), %r14
        movq    56(%r10), %r15
        movdqu  64(%r10), %xmm6
        movdqu  80(%r10), %xmm7
        movdqu  96(%r10), %xmm8
        movdqu  112(%r10), %xmm9
        movdqu  128(%r10), %xmm10
        movdqu  144(%r10), %xmm11
        movdqu  160(%r10), %xmm12
        movdqu  176(%r10), %xmm13
        movdqu  192(%r10), %xmm14
        movdqu  208(%r10), %xmm15
        call    *%rax
RunWithRegistersReturn:
        movq    32(%rsp), %r10
        movq    %rbx, 0(%r10)
        movq    %rbp, 8(%r10)
        movq    %rdi, 16(%r10)
        movq    %rsi, 24(%r10)
        movq    %r12, 32(%r10)
        movq    %r13, 40(%r10)
        movq    %r14, 48(%r10)
        movq    %r15, 56(%r10)
        movdqu  %xmm6, 64(%r10)
        movdqu  %xmm7, 80(%r10)
        movdqu  %xmm8, 96(%r10)
        movdqu  %xmm9, 112(%r10)
        movdqu  %xmm10, 128(%r10)
        movdqu  %xmm11, 144(%r10)
        movdqu  %xmm12, 160(%r10)
        movdqu  %xmm13, 176(%r10)
        movdqu  %xmm14, 192(%r10)
        movdqu  %xmm15, 208(%r10)

        movups  48(%rsp), %xmm6
        movups  64(%rsp), %xmm7
        movups  80(%rsp), %xmm8
        movups  96(%rsp), %xmm9
        movups  112(%rsp), %xmm10
        movups  128(%rsp), %xmm11
        movups  144(%rsp), %xmm12
        movups  160(%rsp), %xmm13
        movups  176(%rsp), %xmm14
        movups  192(%rsp), %xmm15
        addq    $216, %rsp
        popq    %r15
        popq    %r14
        popq    %r13
        popq    %r12
        popq    %rsi
        popq    %rdi
        popq    %rbp
        popq    %rbx
        ret
        .seh_endproc

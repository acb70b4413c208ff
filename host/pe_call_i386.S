// PeCheckedCall (see pe_call.h). cdecl: the frame's address is the only argument.
        .text
        .globl  PeCheckedCall
        .type   PeCheckedCall, @function
PeCheckedCall:
        pushl   %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    20(%esp), %eax
        movl    pe_current_frame, %edx
        movl    %edx, 48(%eax)
        movl    %eax, pe_current_frame
        movl    %esp, 44(%eax)
        // The new stack: 64 bytes of room below the caller's, then the arguments, aligned to 16
        // and moved up by the offset. The stack pointer moves first, so nothing the system
        // pushes meanwhile lands on the copied arguments.
        movl    8(%eax), %ecx
        leal    64(,%ecx,4), %edx
        movl    %esp, %ebx
        subl    %edx, %ebx
        andl    $-16, %ebx
        addl    12(%eax), %ebx
        movl    %ebx, %esp
        movl    %ebx, 40(%eax)
        movl    %ebx, %edi
        movl    4(%eax), %esi
        cld
        rep movsl
        movl    (%eax), %eax
        movl    $0x5EED0B0B, %ebx
        movl    $0x5EED05E1, %esi
        movl    $0x5EED0D1E, %edi
        movl    $0x5EED0B9E, %ebp
        call    *%eax
        // Nothing but the global can be trusted here.
        movl    %eax, %ecx
        movl    pe_current_frame, %eax
        movl    %ecx, 16(%eax)
        movl    %ebx, 24(%eax)
        movl    %esi, 28(%eax)
        movl    %edi, 32(%eax)
        movl    %ebp, 36(%eax)
        movl    %esp, %ecx
        subl    40(%eax), %ecx
        movl    %ecx, 20(%eax)
        movl    44(%eax), %esp
        movl    48(%eax), %edx
        movl    %edx, pe_current_frame
        movl    16(%eax), %eax
        cld
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
        .size   PeCheckedCall, . - PeCheckedCall

        .bss
        .align  4
pe_current_frame:
        .zero   4

        .section .note.GNU-stack, "", @progbits

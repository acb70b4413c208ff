// Calls into a 32-bit Windows DLL from i386 Linux code, checking the calling convention.
//
// PeCheckedCall runs `target` on a stack of its own choosing: the arguments are copied below the
// caller's stack so that the stack pointer at the call is `offset` mod 16 (0, 4, 8 or 12: Windows
// code may be entered with the stack aligned to 4 bytes only). Before the call ebx, esi, edi and
// ebp hold the values of kPeSentinels; afterwards the frame records what they hold, and how many
// bytes the callee removed, so the caller can check that a stdcall function kept them and
// removed exactly its arguments. The caller's own registers and stack are restored whatever the
// callee did. One thread at a time: the frame being called is kept in a global.
#ifndef SPIQLM_HOST_PE_CALL_H
#define SPIQLM_HOST_PE_CALL_H

#include <stddef.h>
#include <stdint.h>

struct PeCallFrame {
  uint32_t target;
  const uint32_t* args;  // `count` argument words, the first pushed last
  uint32_t count;
  uint32_t offset;     // the stack pointer at the call, mod 16
  uint32_t result;     // eax after the call
  uint32_t removed;    // bytes the callee took off the stack, its return address aside
  uint32_t kept[4];    // ebx, esi, edi, ebp after the call
  uint32_t stack;      // the stack pointer at the call
  uint32_t saved;      // the caller's stack pointer, for the way back
  PeCallFrame* outer;  // the frame of a call in progress when this one started
};

// A pointer as the argument word a 32-bit DLL takes.
inline uint32_t PeWord(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// ebx, esi, edi and ebp at the call, in that order.
constexpr uint32_t kPeSentinels[4] = {0x5EED0B0Bu, 0x5EED05E1u, 0x5EED0D1Eu, 0x5EED0B9Eu};
constexpr const char* kPeKeptNames[4] = {"ebx", "esi", "edi", "ebp"};

#if defined(__i386__)
// The layout pe_call_i386.S uses.
static_assert(offsetof(PeCallFrame, count) == 8 && offsetof(PeCallFrame, offset) == 12 &&
                  offsetof(PeCallFrame, result) == 16 && offsetof(PeCallFrame, removed) == 20 &&
                  offsetof(PeCallFrame, kept) == 24 && offsetof(PeCallFrame, stack) == 40 &&
                  offsetof(PeCallFrame, saved) == 44 && offsetof(PeCallFrame, outer) == 48,
              "frame layout");

extern "C" uint32_t PeCheckedCall(PeCallFrame* frame);

// Calls `target`, a stdcall function taking `count` argument words, through PeCheckedCall at
// `stackOffset`, and returns its eax. A breach of the convention (an argument count not removed,
// a register not kept) is reported on stderr, naming `dll`, `what` and the register, and aborts.
uint32_t PeCheckedCallOrAbort(const char* dll, uint32_t stackOffset, uint32_t target,
                              const char* what, const uint32_t* args, uint32_t count);
#endif

#endif  // SPIQLM_HOST_PE_CALL_H

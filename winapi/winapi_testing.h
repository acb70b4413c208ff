// Test-only controls of the stand-in for the Windows calls: live-resource counts, failure
// injection, a call trace and guard pages. Not part of the Windows names; only tests, fuzzers,
// benchmarks and the hosts that run the 32-bit DLL include this.
//
// Failure injection: WinFailNth(op, n) makes the n-th call of `op` from now on fail (n = 1
// is the next call), the way the real call fails: CreateFileA gives INVALID_HANDLE_VALUE,
// ReadFile FALSE with nothing read, SetFilePointer INVALID_SET_FILE_POINTER, LocalAlloc and
// LocalLock null, and the module's malloc null. Each operation keeps one pending failure.
#ifndef SPIQLM_WINAPI_WINAPI_TESTING_H
#define SPIQLM_WINAPI_WINAPI_TESTING_H

#include "winapi/winapi.h"

#ifndef _WIN32

#ifdef __cplusplus
extern "C" {
#endif

typedef enum WinOp {
  kWinOpCreateFile = 0,
  kWinOpReadFile,
  kWinOpSetFilePointer,
  kWinOpLocalAlloc,
  kWinOpLocalLock,
  kWinOpMalloc,  // the module's malloc, routed here at link time
  kWinOpCount
} WinOp;

// Open file handles and allocated local blocks, across all threads.
SPIWINAPI_EXPORT long WinLiveFiles(void);
SPIWINAPI_EXPORT long WinLiveBlocks(void);
// Blocks from the module's malloc not yet freed.
SPIWINAPI_EXPORT long WinLiveMallocs(void);
// Calls of `op` since the last WinResetCalls.
SPIWINAPI_EXPORT long WinCalls(WinOp op);
SPIWINAPI_EXPORT void WinResetCalls(void);
// n = 0 cancels a pending failure of `op`.
SPIWINAPI_EXPORT void WinFailNth(WinOp op, long n);
// Lock count of a live movable block, or -1 for a handle that is not one.
SPIWINAPI_EXPORT long WinLockCount(HLOCAL mem);

// Call trace: between WinTraceStart and WinTraceStop every call of the functions below is
// recorded with its arguments and result, so tests can check what was asked for and in which
// order (the flags of CreateFileA and LocalAlloc, the order of the releases).
typedef enum WinCall {
  kWinCallCreateFile = 0,
  kWinCallReadFile,
  kWinCallSetFilePointer,
  kWinCallCloseHandle,
  kWinCallLocalAlloc,
  kWinCallLocalLock,
  kWinCallLocalUnlock,
  kWinCallLocalFree,
  kWinCallMalloc,  // the module's malloc and free
  kWinCallFree,
} WinCall;

typedef struct WinTraceEntry {
  WinCall call;
  uintptr_t args[7];  // in the call's order, pointers and handles as addresses; rest zero
  uintptr_t result;   // zero for free
} WinTraceEntry;

// Clears the trace and records from now on.
SPIWINAPI_EXPORT void WinTraceStart(void);
// Stops recording, copies up to `capacity` entries, oldest first, and returns how many calls
// were recorded.
SPIWINAPI_EXPORT long WinTraceStop(WinTraceEntry* entries, long capacity);

// Guard pages: while on, every local block and every malloc of the module ends right before an
// inaccessible page, and a block's pages become inaccessible when it is freed (its addresses are
// not handed out again), so a read or write past its end or after its release faults at once.
// Such blocks start wherever their size puts them: whoever uses them must need no alignment.
// Blocks made while it was off are freed as before.
SPIWINAPI_EXPORT void WinSetGuardPages(int on);

// Where the module's malloc and free arrive (see the link options of the module).
SPIWINAPI_EXPORT void* __wrap_malloc(size_t bytes);
SPIWINAPI_EXPORT void __wrap_free(void* memory);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32
#endif  // SPIQLM_WINAPI_WINAPI_TESTING_H

// Test-only controls of the stand-in for the Windows calls: live-resource counts and
// failure injection. Not part of the Windows names; only tests, fuzzers and benchmarks
// include this.
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

// Where the module's malloc and free arrive (see the link options of the module).
SPIWINAPI_EXPORT void* __wrap_malloc(size_t bytes);
SPIWINAPI_EXPORT void __wrap_free(void* memory);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32
#endif  // SPIQLM_WINAPI_WINAPI_TESTING_H

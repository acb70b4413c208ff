// The Windows file and local-memory calls the module makes, under their Windows names.
//
// On Windows this is <windows.h>. Everywhere else it declares a stand-in with the same names,
// types, constants and documented behaviour, implemented over POSIX in a shared library of its
// own (libspiwinapi.so). The plug-in module and every host link that one library, so a block
// the module allocates can be locked, sized and freed by the host, as both share the kernel on
// Windows.
//
// Behaviour kept from Windows because callers depend on it:
//   - a movable block's handle is not its address; LocalLock returns the address and counts
//     locks, LocalUnlock counts down; a movable block of 0 bytes locks to a null address;
//   - LocalFree returns null on success and the handle itself on failure;
//   - CreateFileA of a missing path, a directory, an empty or null name gives
//     INVALID_HANDLE_VALUE;
//   - ReadFile delivers up to the count asked, fewer only at the end of the file;
//   - SetFilePointer splits 64-bit positions into a low result and a high part, and returns
//     INVALID_SET_FILE_POINTER on failure.
// Only what the module and its hosts use is provided: existing files open for reading (other
// access or creation modes fail), share modes are accepted but not enforced, and overlapped
// I/O, security attributes and template files are not supported (they must be null).
#ifndef SPIQLM_WINAPI_WINAPI_H
#define SPIQLM_WINAPI_WINAPI_H

#ifdef _WIN32
#include <windows.h>
#else

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__)
// The Windows API convention: the callee removes its arguments. The 32-bit DLL calls the
// stand-in through it, and hosts call the DLL's exports through it.
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define SPIWINAPI_EXPORT __attribute__((visibility("default")))

typedef int BOOL;
typedef uint32_t DWORD;  // 32 bits, as on Windows
typedef int32_t LONG;
typedef LONG* PLONG;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef HANDLE HLOCAL;
typedef void* LPVOID;
typedef DWORD* LPDWORD;
typedef const char* LPCSTR;
typedef size_t SIZE_T;

#define TRUE 1
#define FALSE 0

#ifdef __cplusplus
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#else
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#endif
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)

#ifdef __cplusplus
extern "C" {
#endif

SPIWINAPI_EXPORT HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                           void* securityAttributes, DWORD creationDisposition,
                                           DWORD flagsAndAttributes, HANDLE templateFile);
SPIWINAPI_EXPORT BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead,
                                      LPDWORD bytesRead, void* overlapped);
SPIWINAPI_EXPORT DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove,
                                             PLONG distanceToMoveHigh, DWORD moveMethod);
SPIWINAPI_EXPORT BOOL WINAPI CloseHandle(HANDLE object);

SPIWINAPI_EXPORT HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
SPIWINAPI_EXPORT LPVOID WINAPI LocalLock(HLOCAL mem);
SPIWINAPI_EXPORT BOOL WINAPI LocalUnlock(HLOCAL mem);
SPIWINAPI_EXPORT SIZE_T WINAPI LocalSize(HLOCAL mem);
SPIWINAPI_EXPORT HLOCAL WINAPI LocalFree(HLOCAL mem);

#ifdef __cplusplus
}
#endif

#endif  // _WIN32
#endif  // SPIQLM_WINAPI_WINAPI_H

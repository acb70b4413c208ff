// The stand-in for the Windows file and local-memory calls, over POSIX.
//
// Handles are checked against the set of live ones, so a stale or foreign handle fails the way
// Windows fails it instead of corrupting memory. One mutex guards all state: decodes may run on
// several threads at once.
#include "winapi/winapi.h"
#include "winapi/winapi_testing.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace {

struct File {
  int fd;
};

struct Block {
  SIZE_T size;
  long locks;
  unsigned char* data;  // null for a block of 0 bytes
};

// Blocks allocated without LMEM_ZEROINIT start with this pattern, so a caller that relies on
// zeroed memory it did not ask for shows up in tests.
constexpr unsigned char kUninitialisedFill = 0xCD;

std::mutex state_mutex;
std::unordered_set<File*>* live_files;
std::unordered_set<Block*>* live_blocks;
std::unordered_map<void*, SIZE_T>* fixed_blocks;  // LMEM_FIXED: the handle is the address
long live_mallocs;
long calls[kWinOpCount];
long pending_failure[kWinOpCount];

// Built on first use rather than as globals with constructors, so the library needs no start-up
// work of its own; never destroyed, so handles stay checkable while the process exits.
void EnsureState() {
  if (live_files == nullptr) {
    live_files = new std::unordered_set<File*>;
    live_blocks = new std::unordered_set<Block*>;
    fixed_blocks = new std::unordered_map<void*, SIZE_T>;
  }
}

// Counts a call of `op` and says whether an injected failure is due. Caller holds the mutex.
bool CallFails(WinOp op) {
  ++calls[op];
  return pending_failure[op] > 0 && --pending_failure[op] == 0;
}

File* LiveFile(HANDLE handle) {
  File* file = static_cast<File*>(handle);
  return live_files->count(file) != 0 ? file : nullptr;
}

Block* LiveBlock(HLOCAL handle) {
  Block* block = static_cast<Block*>(handle);
  return live_blocks->count(block) != 0 ? block : nullptr;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD /*shareMode*/,
                          void* securityAttributes, DWORD creationDisposition,
                          DWORD /*flagsAndAttributes*/, HANDLE templateFile) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  if (CallFails(kWinOpCreateFile)) return INVALID_HANDLE_VALUE;
  if (fileName == nullptr || fileName[0] == '\0') return INVALID_HANDLE_VALUE;
  if (securityAttributes != nullptr || templateFile != nullptr) return INVALID_HANDLE_VALUE;
  // Only what the module asks for is provided: reading a file that exists.
  if (desiredAccess != GENERIC_READ || creationDisposition != OPEN_EXISTING) {
    return INVALID_HANDLE_VALUE;
  }
  int fd;
  do {
    fd = open(fileName, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);  // GCOVR_EXCL_BR_LINE: only a signal interrupts it
  if (fd < 0) return INVALID_HANDLE_VALUE;
  struct stat status;
  // fstat of a descriptor just opened cannot fail; a directory is what this refuses.
  if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {  // GCOVR_EXCL_BR_LINE
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  File* file = static_cast<File*>(malloc(sizeof(File)));
  // GCOVR_EXCL_START: the process has run out of memory for a few bytes of bookkeeping
  if (file == nullptr) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  // GCOVR_EXCL_STOP
  file->fd = fd;
  live_files->insert(file);
  return file;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     void* overlapped) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    EnsureState();
    if (bytesRead != nullptr) *bytesRead = 0;
    if (CallFails(kWinOpReadFile)) return FALSE;
    File* file = LiveFile(handle);
    if (file == nullptr || overlapped != nullptr) return FALSE;
    if (buffer == nullptr && bytesToRead != 0) return FALSE;
    fd = file->fd;
  }
  // Windows delivers the whole count unless the file ends first; POSIX may stop early.
  DWORD total = 0;
  while (total < bytesToRead) {
    ssize_t got = read(fd, static_cast<unsigned char*>(buffer) + total, bytesToRead - total);
    // GCOVR_EXCL_START: a regular file's read fails only on a device error or a signal
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FALSE;
    // GCOVR_EXCL_STOP
    if (got == 0) break;
    total += static_cast<DWORD>(got);
  }
  if (bytesRead != nullptr) *bytesRead = total;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distanceToMove, PLONG distanceToMoveHigh,
                            DWORD moveMethod) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  if (CallFails(kWinOpSetFilePointer)) return INVALID_SET_FILE_POINTER;
  File* file = LiveFile(handle);
  if (file == nullptr) return INVALID_SET_FILE_POINTER;
  // With a high part the distance is a signed 64-bit value split in two; without one it is the
  // signed 32-bit low part alone.
  int64_t distance = distanceToMove;
  if (distanceToMoveHigh != nullptr) {
    distance = static_cast<int64_t>(
        (static_cast<uint64_t>(static_cast<uint32_t>(*distanceToMoveHigh)) << 32) |
        static_cast<uint32_t>(distanceToMove));
  }
  int whence;
  switch (moveMethod) {
    case FILE_BEGIN:
      whence = SEEK_SET;
      break;
    case FILE_CURRENT:
      whence = SEEK_CUR;
      break;
    case FILE_END:
      whence = SEEK_END;
      break;
    default:
      return INVALID_SET_FILE_POINTER;
  }
  // Only a move without a high part can need undoing.
  const off_t before = distanceToMoveHigh == nullptr ? lseek(file->fd, 0, SEEK_CUR) : 0;
  off_t after = lseek(file->fd, static_cast<off_t>(distance), whence);
  if (after < 0) return INVALID_SET_FILE_POINTER;
  uint64_t position = static_cast<uint64_t>(after);
  if (distanceToMoveHigh == nullptr) {
    // Without a high part Windows refuses a position that does not fit in 32 bits.
    if (position > 0xFFFFFFFEu) {
      lseek(file->fd, before, SEEK_SET);
      return INVALID_SET_FILE_POINTER;
    }
  } else {
    *distanceToMoveHigh = static_cast<LONG>(static_cast<uint32_t>(position >> 32));
  }
  return static_cast<DWORD>(position & 0xFFFFFFFFu);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  File* file = LiveFile(handle);
  if (file == nullptr) return FALSE;
  live_files->erase(file);
  close(file->fd);
  free(file);
  return TRUE;
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  if (CallFails(kWinOpLocalAlloc)) return nullptr;
  bool zero = (flags & LMEM_ZEROINIT) != 0;
  if ((flags & LMEM_MOVEABLE) == 0) {
    const SIZE_T size = bytes != 0 ? bytes : 1;  // a distinct address even for 0 bytes
    void* data = zero ? calloc(size, 1) : malloc(size);
    if (data == nullptr) return nullptr;
    if (!zero) memset(data, kUninitialisedFill, bytes);
    fixed_blocks->emplace(data, bytes);
    return data;
  }
  Block* block = static_cast<Block*>(malloc(sizeof(Block)));
  if (block == nullptr) return nullptr;  // GCOVR_EXCL_LINE: out of memory for bookkeeping
  block->size = bytes;
  block->locks = 0;
  block->data = nullptr;
  if (bytes != 0) {
    block->data = static_cast<unsigned char*>(zero ? calloc(bytes, 1) : malloc(bytes));
    if (block->data == nullptr) {
      free(block);
      return nullptr;
    }
    if (!zero) memset(block->data, kUninitialisedFill, bytes);
  }
  live_blocks->insert(block);
  return block;
}

LPVOID WINAPI LocalLock(HLOCAL mem) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  if (CallFails(kWinOpLocalLock)) return nullptr;
  if (fixed_blocks->count(mem) != 0) return mem;
  Block* block = LiveBlock(mem);
  // A movable block of 0 bytes has no memory behind it: Windows locks it to null.
  if (block == nullptr || block->data == nullptr) return nullptr;
  ++block->locks;
  return block->data;
}

BOOL WINAPI LocalUnlock(HLOCAL mem) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  Block* block = LiveBlock(mem);
  if (block == nullptr || block->locks == 0) return FALSE;
  --block->locks;
  return block->locks != 0 ? TRUE : FALSE;
}

SIZE_T WINAPI LocalSize(HLOCAL mem) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  auto fixed = fixed_blocks->find(mem);
  if (fixed != fixed_blocks->end()) return fixed->second;
  Block* block = LiveBlock(mem);
  return block != nullptr ? block->size : 0;
}

HLOCAL WINAPI LocalFree(HLOCAL mem) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  if (mem == nullptr) return nullptr;
  if (fixed_blocks->erase(mem) != 0) {
    free(mem);
    return nullptr;
  }
  Block* block = LiveBlock(mem);
  if (block == nullptr) return mem;
  live_blocks->erase(block);
  free(block->data);
  free(block);
  return nullptr;
}

// The module is linked with --wrap=malloc,--wrap=free, so its heap calls arrive here and can be
// counted and failed without any change to its code.
void* __wrap_malloc(size_t bytes) {
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    if (CallFails(kWinOpMalloc)) return nullptr;
  }
  void* memory = malloc(bytes);
  if (memory != nullptr) {  // GCOVR_EXCL_BR_LINE: the real malloc failing
    std::lock_guard<std::mutex> lock(state_mutex);
    ++live_mallocs;
  }
  return memory;
}

void __wrap_free(void* memory) {
  if (memory == nullptr) return;
  free(memory);
  std::lock_guard<std::mutex> lock(state_mutex);
  --live_mallocs;
}

long WinLiveFiles(void) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  return static_cast<long>(live_files->size());
}

long WinLiveBlocks(void) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  return static_cast<long>(live_blocks->size() + fixed_blocks->size());
}

long WinLiveMallocs(void) {
  std::lock_guard<std::mutex> lock(state_mutex);
  return live_mallocs;
}

long WinCalls(WinOp op) {
  std::lock_guard<std::mutex> lock(state_mutex);
  return static_cast<unsigned>(op) < kWinOpCount ? calls[op] : 0;
}

void WinResetCalls(void) {
  std::lock_guard<std::mutex> lock(state_mutex);
  for (long& count : calls) count = 0;
}

void WinFailNth(WinOp op, long n) {
  std::lock_guard<std::mutex> lock(state_mutex);
  if (static_cast<unsigned>(op) < kWinOpCount) pending_failure[op] = n;
}

long WinLockCount(HLOCAL mem) {
  std::lock_guard<std::mutex> lock(state_mutex);
  EnsureState();
  Block* block = LiveBlock(mem);
  return block != nullptr ? block->locks : -1;
}

}  // extern "C"

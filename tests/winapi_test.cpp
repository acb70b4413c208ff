// The stand-in for the Windows calls keeps the Windows behaviour the module and hosts rely on.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/scratch_file.h"
#include "winapi/winapi.h"
#include "winapi/winapi_testing.h"

namespace {

HANDLE OpenRead(const char* name) {
  return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(LocalMemory, MovableHandleIsNotTheAddressAndCountsLocks) {
  long blocks = WinLiveBlocks();
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 10);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(WinLiveBlocks(), blocks + 1);
  EXPECT_EQ(LocalSize(block), 10u);
  unsigned char* first = static_cast<unsigned char*>(LocalLock(block));
  ASSERT_NE(first, nullptr);
  EXPECT_NE(static_cast<void*>(first), block);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(first[i], 0) << "zero-filled";
  EXPECT_EQ(LocalLock(block), first);
  EXPECT_EQ(WinLockCount(block), 2);
  EXPECT_EQ(LocalUnlock(block), TRUE) << "still locked once";
  EXPECT_EQ(LocalUnlock(block), FALSE) << "now unlocked";
  EXPECT_EQ(LocalUnlock(block), FALSE) << "not locked at all";
  EXPECT_EQ(WinLockCount(block), 0);
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(WinLiveBlocks(), blocks);
  // A freed or foreign handle fails: LocalFree hands it back, the others give nothing.
  EXPECT_EQ(LocalFree(block), block);
  EXPECT_EQ(LocalLock(block), nullptr);
  EXPECT_EQ(LocalSize(block), 0u);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(LocalMemory, ZeroByteMovableBlockLocksToNull) {
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LocalSize(block), 0u);
  EXPECT_EQ(LocalLock(block), nullptr);
  EXPECT_EQ(LocalUnlock(block), FALSE);
  EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(LocalMemory, ImpossibleSizesAndForeignHandlesFail) {
  long blocks = WinLiveBlocks();
  EXPECT_EQ(LocalAlloc(LHND, SIZE_MAX / 2), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, SIZE_MAX / 2), nullptr);
  EXPECT_EQ(WinLiveBlocks(), blocks);
  int local = 0;
  HLOCAL foreign = &local;
  EXPECT_EQ(LocalLock(foreign), nullptr);
  EXPECT_EQ(LocalUnlock(foreign), FALSE);
  EXPECT_EQ(WinLockCount(foreign), -1);
  EXPECT_EQ(WinCalls(kWinOpCount), 0) << "not an operation";
  WinFailNth(kWinOpCount, 1);  // ignored
  // A fixed block of 0 bytes is still a distinct, freeable block.
  HLOCAL empty = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(LocalSize(empty), 0u);
  EXPECT_EQ(LocalUnlock(empty), FALSE) << "fixed blocks are never locked";
  EXPECT_EQ(LocalFree(empty), nullptr);
}

TEST(LocalMemory, FixedBlockIsItsAddressAndUnzeroedMemoryIsNotZero) {
  long blocks = WinLiveBlocks();
  HLOCAL fixed = LocalAlloc(LMEM_FIXED, 8);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(LocalLock(fixed), fixed);
  EXPECT_EQ(LocalSize(fixed), 8u);
  EXPECT_NE(static_cast<unsigned char*>(fixed)[0], 0) << "only LMEM_ZEROINIT promises zeros";
  EXPECT_EQ(LocalFree(fixed), nullptr);
  HLOCAL movable = LocalAlloc(LMEM_MOVEABLE, 8);
  unsigned char* bytes = static_cast<unsigned char*>(LocalLock(movable));
  ASSERT_NE(bytes, nullptr);
  EXPECT_NE(bytes[7], 0) << "only LMEM_ZEROINIT promises zeros";
  LocalUnlock(movable);
  EXPECT_EQ(LocalFree(movable), nullptr);
  EXPECT_EQ(WinLiveBlocks(), blocks);
}

TEST(Files, UnopenableNamesGiveInvalidHandle) {
  const char* names[] = {nullptr, "", "/nonexistent/file", "/tmp"};
  for (const char* name : names) {
    EXPECT_EQ(OpenRead(name), INVALID_HANDLE_VALUE) << (name ? name : "(null)");
  }
  EXPECT_EQ(WinLiveFiles(), 0);
}

TEST(Files, SpecialFilesAreRefusedWithoutWaiting) {
  const std::string fifo = "/tmp/spiqlm-fifo-" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // With a writer holding the FIFO even a blocking open returns at once: what refuses it is
  // the check of the file's kind.
  int writer = open(fifo.c_str(), O_RDWR);
  EXPECT_GE(writer, 0);
  EXPECT_EQ(OpenRead(fifo.c_str()), INVALID_HANDLE_VALUE);
  close(writer);
  // With none, a blocking open would wait forever; the alarm ends the run instead.
  alarm(30);
  EXPECT_EQ(OpenRead(fifo.c_str()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenRead("/dev/null"), INVALID_HANDLE_VALUE);
  alarm(0);
  unlink(fifo.c_str());
  EXPECT_EQ(WinLiveFiles(), 0);
}

TEST(Files, RefusesWhatItDoesNotProvide) {
  ScratchFile scratch("abc", 3);
  const char* name = scratch.path();
  int security = 0;
  HANDLE self = reinterpret_cast<HANDLE>(&security);
  const struct {
    const char* what;
    HANDLE handle;
  } opens[] = {
      {"writing", CreateFileA(name, 0x40000000u, 0, nullptr, OPEN_EXISTING, 0, nullptr)},
      {"creating", CreateFileA(name, GENERIC_READ, 0, nullptr, 2u, 0, nullptr)},
      {"security attributes",
       CreateFileA(name, GENERIC_READ, 0, &security, OPEN_EXISTING, 0, nullptr)},
      {"a template", CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, self)},
  };
  for (const auto& open : opens) EXPECT_EQ(open.handle, INVALID_HANDLE_VALUE) << open.what;

  HANDLE file = OpenRead(name);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[4];
  DWORD got = 0;
  EXPECT_EQ(ReadFile(file, buffer, 2, nullptr, nullptr), TRUE) << "the count is optional";
  EXPECT_EQ(ReadFile(file, buffer, 1, &got, &security), FALSE) << "overlapped";
  EXPECT_EQ(ReadFile(file, nullptr, 1, &got, nullptr), FALSE) << "no buffer";
  EXPECT_EQ(ReadFile(file, nullptr, 0, &got, nullptr), TRUE) << "nothing to read";
  EXPECT_EQ(ReadFile(self, buffer, 1, &got, nullptr), FALSE) << "not a file";
  EXPECT_EQ(SetFilePointer(self, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER) << "no such method";
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), 1u) << "back one from offset 2";
  CloseHandle(file);
}

TEST(Files, ReadDeliversUpToTheCountAndFewerOnlyAtTheEnd) {
  ScratchFile scratch("abcdefg", 7);
  const std::string path = scratch.path();
  HANDLE file = OpenRead(path.c_str());
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(WinLiveFiles(), 1);
  char buffer[8] = {};
  DWORD got = 99;
  EXPECT_EQ(ReadFile(file, buffer, 4, &got, nullptr), TRUE);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(memcmp(buffer, "abcd", 4), 0);
  EXPECT_EQ(ReadFile(file, buffer, 8, &got, nullptr), TRUE);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(ReadFile(file, buffer, 8, &got, nullptr), TRUE);
  EXPECT_EQ(got, 0u) << "end of file is success with nothing read";
  EXPECT_EQ(CloseHandle(file), TRUE);
  EXPECT_EQ(CloseHandle(file), FALSE) << "a closed handle is gone";
  EXPECT_EQ(ReadFile(file, buffer, 1, &got, nullptr), FALSE);
  EXPECT_EQ(WinLiveFiles(), 0);
}

TEST(Files, SetFilePointerSplitsPositionsAtFourGiB) {
  ScratchFile scratch("0123456789", 10);
  const std::string path = scratch.path();
  const long long huge = (1LL << 32) + 6;
  ASSERT_EQ(truncate(path.c_str(), huge), 0);
  HANDLE file = OpenRead(path.c_str());
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = 0;
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_END), 6u);
  EXPECT_EQ(high, 1);
  // Without a high part a position past 32 bits is refused and the position stays.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  high = 0;
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), 6u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
  char digit = 0;
  DWORD got = 0;
  EXPECT_EQ(ReadFile(file, &digit, 1, &got, nullptr), TRUE);
  EXPECT_EQ(digit, '4');
  // A negative high part with a low part is a distance back from the end.
  high = -1;
  EXPECT_EQ(SetFilePointer(file, -2, &high, FILE_END), 4u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  CloseHandle(file);
}

TEST(FailureInjection, FailsTheNthCallOnce) {
  WinResetCalls();
  WinFailNth(kWinOpLocalAlloc, 2);
  HLOCAL first = LocalAlloc(LHND, 4);
  HLOCAL second = LocalAlloc(LHND, 4);
  HLOCAL third = LocalAlloc(LHND, 4);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(WinCalls(kWinOpLocalAlloc), 3);
  LocalFree(first);
  LocalFree(third);

  WinFailNth(kWinOpLocalLock, 1);
  HLOCAL block = LocalAlloc(LHND, 4);
  EXPECT_EQ(LocalLock(block), nullptr);
  EXPECT_NE(LocalLock(block), nullptr);
  LocalUnlock(block);
  LocalFree(block);

  ScratchFile scratch("xy", 2);
  const std::string path = scratch.path();
  WinFailNth(kWinOpCreateFile, 1);
  EXPECT_EQ(OpenRead(path.c_str()), INVALID_HANDLE_VALUE);
  HANDLE file = OpenRead(path.c_str());
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[2];
  DWORD got = 7;
  WinFailNth(kWinOpReadFile, 1);
  EXPECT_EQ(ReadFile(file, buffer, 2, &got, nullptr), FALSE);
  EXPECT_EQ(got, 0u);
  WinFailNth(kWinOpSetFilePointer, 1);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  CloseHandle(file);

  long mallocs = WinLiveMallocs();
  WinFailNth(kWinOpMalloc, 1);
  EXPECT_EQ(__wrap_malloc(16), nullptr);
  void* memory = __wrap_malloc(16);
  EXPECT_NE(memory, nullptr);
  EXPECT_EQ(WinLiveMallocs(), mallocs + 1);
  __wrap_free(memory);
  EXPECT_EQ(WinLiveMallocs(), mallocs);

  WinFailNth(kWinOpLocalAlloc, 1);
  WinFailNth(kWinOpLocalAlloc, 0);
  block = LocalAlloc(LHND, 1);
  EXPECT_NE(block, nullptr) << "a cancelled failure does not fire";
  LocalFree(block);
}

TEST(CallTrace, RecordsEachCallWithItsArgumentsInOrder) {
  ScratchFile scratch("abcd", 4);
  const char* name = scratch.path();
  WinTraceStart();
  HANDLE file = OpenRead(name);
  char buffer[4];
  DWORD got = 0;
  ReadFile(file, buffer, 4, &got, nullptr);
  SetFilePointer(file, -1, nullptr, FILE_END);
  CloseHandle(file);
  HLOCAL block = LocalAlloc(LHND, 8);
  void* address = LocalLock(block);
  LocalUnlock(block);
  LocalFree(block);
  void* memory = __wrap_malloc(5);
  __wrap_free(memory);
  WinTraceEntry entries[12];
  ASSERT_EQ(WinTraceStop(entries, 12), 10);
  auto word = [](const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); };
  const WinTraceEntry want[10] = {
      {kWinCallCreateFile,
       {word(name), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0},
       word(file)},
      {kWinCallReadFile, {word(file), word(buffer), 4, word(&got), 0}, TRUE},
      {kWinCallSetFilePointer, {word(file), 0xFFFFFFFFu, 0, FILE_END}, 3},
      {kWinCallCloseHandle, {word(file)}, TRUE},
      {kWinCallLocalAlloc, {LHND, 8}, word(block)},
      {kWinCallLocalLock, {word(block)}, word(address)},
      {kWinCallLocalUnlock, {word(block)}, FALSE},
      {kWinCallLocalFree, {word(block)}, 0},
      {kWinCallMalloc, {5}, word(memory)},
      {kWinCallFree, {word(memory)}, 0},
  };
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(entries[i].call, want[i].call) << "entry " << i;
    for (int a = 0; a < 7; ++a) EXPECT_EQ(entries[i].args[a], want[i].args[a]) << i << ", " << a;
    EXPECT_EQ(entries[i].result, want[i].result) << "entry " << i;
  }
  // Stopped: nothing more is recorded, and what was stays to be read again, in part.
  LocalFree(LocalAlloc(LHND, 1));
  EXPECT_EQ(WinTraceStop(entries, 1), 10);
  EXPECT_EQ(entries[0].call, kWinCallCreateFile);
}

void Poke(void* at) {
  *static_cast<volatile unsigned char*>(at) = 1;
}

unsigned char Peek(const void* at) {
  return *static_cast<const volatile unsigned char*>(at);
}

TEST(GuardPages, BlocksEndAtAnInaccessiblePageAndDieWithTheirRelease) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  HLOCAL before = LocalAlloc(LHND, 8);  // made without guard pages, freed with them on
  WinSetGuardPages(1);
  const struct {
    UINT flags;
    SIZE_T bytes;
  } rows[] = {{LHND, 44}, {LMEM_MOVEABLE, 3}, {LMEM_FIXED, 4097}, {LMEM_FIXED | LMEM_ZEROINIT, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "flags " << row.flags << ", " << row.bytes << " bytes");
    HLOCAL block = LocalAlloc(row.flags, row.bytes);
    ASSERT_NE(block, nullptr);
    unsigned char* bytes = static_cast<unsigned char*>(LocalLock(block));
    ASSERT_NE(bytes, nullptr);
    const unsigned char fill = (row.flags & LMEM_ZEROINIT) != 0 ? 0 : 0xCD;
    EXPECT_EQ(Peek(bytes), fill);
    EXPECT_EQ(Peek(bytes + row.bytes - 1), fill);
    Poke(bytes + row.bytes - 1);
    EXPECT_DEATH(Poke(bytes + row.bytes), "") << "one byte past the end";
    if ((row.flags & LMEM_MOVEABLE) != 0) {
      EXPECT_NE(static_cast<void*>(bytes), block);
      EXPECT_DEATH(Poke(block), "") << "the handle taken for the address";
    }
    LocalUnlock(block);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_DEATH(Peek(bytes), "") << "after release";
  }
  long mallocs = WinLiveMallocs();
  unsigned char* memory = static_cast<unsigned char*>(__wrap_malloc(10));
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(Peek(memory), 0xCD) << "not zeroed";
  EXPECT_DEATH(Poke(memory + 10), "");
  __wrap_free(memory);
  EXPECT_DEATH(Peek(memory), "");
  EXPECT_EQ(WinLiveMallocs(), mallocs);
  // Empty blocks, and sizes no mapping can hold.
  HLOCAL empty = LocalAlloc(LHND, 0);
  EXPECT_EQ(LocalLock(empty), nullptr);
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(LocalAlloc(LMEM_FIXED, 0)), nullptr);
  EXPECT_EQ(LocalAlloc(LHND, SIZE_MAX / 2), nullptr);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_MAX), nullptr);
  EXPECT_EQ(LocalFree(before), nullptr);
  HLOCAL during = LocalAlloc(LHND, 8);  // made with guard pages, freed without them
  WinSetGuardPages(0);
  EXPECT_EQ(LocalFree(during), nullptr);
  long blocks = WinLiveBlocks();
  EXPECT_EQ(LocalFree(LocalAlloc(LHND, 8)), nullptr);
  EXPECT_EQ(WinLiveBlocks(), blocks);
}

}  // namespace

// Every call GetPicture makes that can fail, failed in turn, through the loaded module: each
// failure gives its result code and leaves behind exactly what the release order promises.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/plugin_loader.h"
#include "tests/conformance/qlm_fixture.h"
#include "tests/scratch_file.h"
#include "winapi/winapi_testing.h"

namespace {

const WinOp kFallibleOps[] = {kWinOpCreateFile, kWinOpReadFile,  kWinOpSetFilePointer,
                              kWinOpLocalAlloc, kWinOpLocalLock, kWinOpMalloc};

const char* OpName(WinOp op) {
  switch (op) {
    case kWinOpCreateFile:
      return "CreateFileA";
    case kWinOpReadFile:
      return "ReadFile";
    case kWinOpSetFilePointer:
      return "SetFilePointer";
    case kWinOpLocalAlloc:
      return "LocalAlloc";
    case kWinOpLocalLock:
      return "LocalLock";
    case kWinOpMalloc:
      return "malloc";
    default:
      return "?";
  }
}

struct Live {
  long files, blocks, mallocs;
};

Live Now() {
  return Live{WinLiveFiles(), WinLiveBlocks(), WinLiveMallocs()};
}

class FailurePaths : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(LoadPlugin(SPIQLM_MODULE, Lookup::kByName, &plugin_, &error)) << error;
  }
  void TearDown() override {
    for (WinOp op : kFallibleOps) WinFailNth(op, 0);
    UnloadPlugin(&plugin_);
  }

  int Decode(bool memory, int cancelAt = -1) {
    info_ = pixels_ = nullptr;
    cancel_at_ = cancelAt;
    char* source = memory ? reinterpret_cast<char*>(image_.data()) : file_.name();
    return plugin_.GetPicture(source, long(image_.size()), memory ? 1 : 0, &info_, &pixels_,
                              Progress, reinterpret_cast<intptr_t>(this));
  }

  void FreeBlocks() {
    EXPECT_EQ(plugin_.LocalFree(info_), nullptr);
    EXPECT_EQ(plugin_.LocalFree(pixels_), nullptr);
  }

  static int WINAPI Progress(int numerator, int, long lData) {
    auto* self = reinterpret_cast<FailurePaths*>(lData);
    if (self->shrink_) {
      EXPECT_EQ(truncate(self->file_.path(), 4 + 10 + 5), 0);
    }
    return numerator == self->cancel_at_ ? 1 : 0;
  }

  SpiPlugin plugin_;
  std::vector<unsigned char> image_ = fixture::MakeQlm(5, 3);
  ScratchFile file_{image_};
  HLOCAL info_ = nullptr;
  HLOCAL pixels_ = nullptr;
  int cancel_at_ = -1;
  bool shrink_ = false;
};

TEST_F(FailurePaths, ASuccessfulDecodeStreamsWithOneRowBuffer) {
  struct Want {
    bool memory;
    long opens, reads, seeks, allocs, locks, mallocs;
  };
  // File mode: the probe's open and read, then one open, two seeks and one read per row.
  const Want wants[] = {{false, 2, 1 + 3, 2, 2, 2, 1}, {true, 0, 0, 0, 2, 2, 1}};
  for (const Want& want : wants) {
    Live before = Now();
    WinResetCalls();
    ASSERT_EQ(Decode(want.memory), 0);
    EXPECT_EQ(WinCalls(kWinOpCreateFile), want.opens);
    EXPECT_EQ(WinCalls(kWinOpReadFile), want.reads);
    EXPECT_EQ(WinCalls(kWinOpSetFilePointer), want.seeks);
    EXPECT_EQ(WinCalls(kWinOpLocalAlloc), want.allocs);
    EXPECT_EQ(WinCalls(kWinOpLocalLock), want.locks);
    EXPECT_EQ(WinCalls(kWinOpMalloc), want.mallocs);
    Live after = Now();
    EXPECT_EQ(after.files, before.files);
    EXPECT_EQ(after.mallocs, before.mallocs);
    EXPECT_EQ(after.blocks, before.blocks + 2) << "the host's two blocks";
    EXPECT_EQ(WinLockCount(info_), 0);
    EXPECT_EQ(WinLockCount(pixels_), 0);
    FreeBlocks();
  }
}

// Which result each failure must give: memory shortages are 4, the second open is 6, and a
// failed probe, seek or read means the data cannot be taken as a QLM image.
int ExpectedResult(WinOp op, long nth) {
  switch (op) {
    case kWinOpLocalAlloc:
    case kWinOpLocalLock:
    case kWinOpMalloc:
      return 4;
    case kWinOpCreateFile:
      return nth == 2 ? 6 : 2;
    default:
      return 2;
  }
}

TEST_F(FailurePaths, EachFailureGivesItsCodeAndLeavesNothing) {
  long points = 0;
  for (bool memory : {false, true}) {
    WinResetCalls();
    ASSERT_EQ(Decode(memory), 0);
    FreeBlocks();
    long made[kWinOpCount];
    for (WinOp op : kFallibleOps) made[op] = WinCalls(op);
    for (WinOp op : kFallibleOps) {
      for (long nth = 1; nth <= made[op]; ++nth) {
        SCOPED_TRACE(testing::Message()
                     << (memory ? "memory" : "file") << ": " << OpName(op) << " #" << nth);
        Live before = Now();
        WinFailNth(op, nth);
        EXPECT_EQ(Decode(memory), ExpectedResult(op, nth));
        WinFailNth(op, 0);
        Live after = Now();
        EXPECT_EQ(after.files, before.files);
        EXPECT_EQ(after.blocks, before.blocks);
        EXPECT_EQ(after.mallocs, before.mallocs);
        EXPECT_EQ(info_, nullptr);
        EXPECT_EQ(pixels_, nullptr);
        ++points;
      }
    }
  }
  EXPECT_GT(points, 10);
}

TEST_F(FailurePaths, CancellationKeepsOnlyTheBlocks) {
  for (bool memory : {false, true}) {
    Live before = Now();
    EXPECT_EQ(Decode(memory, 1), 1);
    Live after = Now();
    EXPECT_EQ(after.files, before.files);
    EXPECT_EQ(after.mallocs, before.mallocs);
    EXPECT_EQ(after.blocks, before.blocks + 2);
    EXPECT_EQ(WinLockCount(info_), 0);
    EXPECT_EQ(WinLockCount(pixels_), 0);
    FreeBlocks();
  }
}

TEST_F(FailurePaths, FileModeReportsShortageBeforeWrongSize) {
  image_.push_back(0);
  FILE* file = fopen(file_.path(), "ab");
  ASSERT_NE(file, nullptr);
  fputc(0, file);
  fclose(file);
  EXPECT_EQ(Decode(false), 2);
  WinFailNth(kWinOpLocalAlloc, 1);
  EXPECT_EQ(Decode(false), 4);
  // Memory mode rejects the length before allocating anything.
  WinResetCalls();
  WinFailNth(kWinOpLocalAlloc, 1);
  EXPECT_EQ(Decode(true), 2);
  EXPECT_EQ(WinCalls(kWinOpLocalAlloc), 0);
}

TEST_F(FailurePaths, EmptyPixelBlockIsNoLockFailure) {
  image_ = fixture::MakeQlm(0, 3);
  Live before = Now();
  EXPECT_EQ(Decode(true), 0);
  EXPECT_EQ(plugin_.LocalSize(pixels_), 0u);
  FreeBlocks();
  EXPECT_EQ(Now().blocks, before.blocks);
}

TEST_F(FailurePaths, ShrinkingFileEndsTheDecode) {
  // The size check passes; then the file shrinks under the decode and the next row comes up
  // short. Its missing bytes must not reach the host.
  shrink_ = true;
  Live before = Now();
  EXPECT_EQ(Decode(false), 2);
  Live after = Now();
  EXPECT_EQ(after.blocks, before.blocks);
  EXPECT_EQ(after.files, before.files);
  EXPECT_EQ(after.mallocs, before.mallocs);
}

}  // namespace

// GetPicture's failures that need more than failing one call, through the loaded module: each
// gives its result code and leaves behind exactly what the release order promises. (Every
// fallible call failed in turn is the conformance suite's, so that it runs on the DLLs too.)
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
    for (int op = 0; op < kWinOpCount; ++op) WinFailNth(static_cast<WinOp>(op), 0);
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

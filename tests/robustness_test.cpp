// Bad sizes and extreme headers through the loaded module: every truncation of a few pictures in
// both modes, and every pairing of extreme dimensions through every export.
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

#if defined(__SANITIZE_ADDRESS__)
#define SPIQLM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SPIQLM_ASAN 1
#endif
#endif
#ifdef SPIQLM_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

class Robustness : public testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(LoadPlugin(SPIQLM_MODULE, Lookup::kByName, &plugin_, &error)) << error;
  }
  void TearDown() override { UnloadPlugin(&plugin_); }

  // Decodes and frees; returns the result. Nothing may be left but on 0.
  int Decode(char* source, long length, unsigned int flags) {
    HLOCAL info = nullptr, pixels = nullptr;
    int result = plugin_.GetPicture(source, length, flags, &info, &pixels, nullptr, 0);
    if (result == 0 || result == 1) {
      plugin_.LocalFree(info);
      plugin_.LocalFree(pixels);
    }
    return result;
  }

  SpiPlugin plugin_;
  ScratchFile file_{nullptr, 0};
};

struct Shape {
  int width, height;
};

const Shape kShapes[] = {{1, 1}, {3, 5}, {17, 9}, {512, 1}, {1, 512}, {512, 512}};

TEST_F(Robustness, EveryLengthOfAMemoryImageButTheExactOneIsRefused) {
  for (const Shape& shape : kShapes) {
    SCOPED_TRACE(testing::Message() << shape.width << " x " << shape.height);
    std::vector<unsigned char> image = fixture::MakeQlm(shape.width, shape.height);
    const long exact = static_cast<long>(image.size());
    image.push_back(0xAB);  // so that the host's buffer holds one past the exact size
    long blocks = WinLiveBlocks();
    char* source = reinterpret_cast<char*>(image.data());
    // From the longest down, the bytes past `length` are poisoned one more each step: any read
    // beyond what the host said it holds stops the run.
    for (long length = exact + 1; length >= 0; --length) {
      int result = Decode(source, length, 1);
      ASSERT_EQ(result, length == exact ? 0 : 2) << "length " << length;
      ASSERT_EQ(WinLiveBlocks(), blocks) << "length " << length;
#ifdef SPIQLM_ASAN
      if (length > 0) ASAN_POISON_MEMORY_REGION(source + length - 1, 1);
#endif
    }
#ifdef SPIQLM_ASAN
    ASAN_UNPOISON_MEMORY_REGION(source, image.size());
#endif
  }
}

TEST_F(Robustness, EveryLengthOfAFileButTheExactOneIsRefused) {
  long tried = 0;
  for (const Shape& shape : kShapes) {
    SCOPED_TRACE(testing::Message() << shape.width << " x " << shape.height);
    std::vector<unsigned char> image = fixture::MakeQlm(shape.width, shape.height);
    const long exact = static_cast<long>(image.size());
    image.push_back(0xAB);
    file_.Write(image.data(), image.size());
    long files = WinLiveFiles(), blocks = WinLiveBlocks();
    for (long length = exact + 1; length >= 0; --length) {
      ASSERT_EQ(truncate(file_.path(), length), 0);
      ASSERT_EQ(Decode(file_.name(), 0, 0), length == exact ? 0 : 2) << "length " << length;
      ASSERT_EQ(WinLiveFiles(), files);
      ASSERT_EQ(WinLiveBlocks(), blocks);
      ++tried;
    }
  }
  printf("file lengths tried: %ld\n", tried);
}

TEST_F(Robustness, ExtremeHeadersThroughEveryExport) {
  const int kValues[] = {0, 1, 511, 512, 513, 0x7FFF, 0x8000, 0xFFFF};
  for (int width : kValues) {
    for (int height : kValues) {
      SCOPED_TRACE(testing::Message() << width << " x " << height);
      const bool valid = width <= 512 && height <= 512;
      std::vector<unsigned char> image = fixture::MakeQlm(width, height);
      // Rejected headers come with a few bytes of pixel data all the same.
      if (!valid) image.resize(image.size() + 64, 0x55);
      file_.Write(image.data(), image.size());
      char* memory = reinterpret_cast<char*>(image.data());
      const long length = static_cast<long>(image.size());
      long files = WinLiveFiles(), blocks = WinLiveBlocks();
      EXPECT_EQ(Decode(memory, length, 1), valid ? 0 : 2);
      EXPECT_EQ(Decode(file_.name(), 0, 0), valid ? 0 : 2);
      PictureInfo info;
      for (bool inMemory : {true, false}) {
        int result = inMemory ? plugin_.GetPictureInfo(memory, length, 1, &info)
                              : plugin_.GetPictureInfo(file_.name(), 0, 0, &info);
        EXPECT_EQ(result, valid ? 0 : 2);
        if (valid) {
          EXPECT_EQ(info.width, width);
          EXPECT_EQ(info.height, height);
        }
      }
      EXPECT_EQ(plugin_.IsSupported(file_.name(), 0), valid ? 1 : 0);
      EXPECT_EQ(plugin_.IsSupported(file_.name(), reinterpret_cast<uintptr_t>(memory)),
                valid ? 1 : 0);
      EXPECT_EQ(WinLiveFiles(), files);
      EXPECT_EQ(WinLiveBlocks(), blocks);
    }
  }
}

}  // namespace

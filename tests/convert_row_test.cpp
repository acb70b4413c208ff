// Every conversion path this CPU can run gives the reference's bytes: for all 65,536 pixel
// words, for every width from 0 to 512, at every destination alignment mod 32, writing nothing
// outside its 3 x width bytes.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "format/convert_row.h"

namespace {

const ConvertPath kPaths[] = {kConvertPathScalar, kConvertPathSse2, kConvertPathSsse3,
                              kConvertPathAvx2, kConvertPathAvx512};

// Runs the row through ConvertRow with `path` forced, as the decoder calls it.
void ConvertWith(ConvertPath path, const unsigned char* source, int32_t width,
                 unsigned char* destination) {
  ASSERT_TRUE(ForceConvertPath(path));
  ConvertRow(source, width, destination);
}

class ConvertPaths : public testing::TestWithParam<ConvertPath> {
 protected:
  void SetUp() override {
    if (GetParam() > BestConvertPath()) GTEST_SKIP() << "this CPU has no " << Name();
  }
  void TearDown() override { ForceConvertPath(kConvertPathUnchosen); }
  const char* Name() { return ConvertPathName(GetParam()); }
};

TEST_P(ConvertPaths, EveryPixelWord) {
  // All words, high byte first, as one row of 65,536 pixels cut into rows of 512.
  std::vector<unsigned char> words(2 * 65536);
  for (uint32_t v = 0; v < 65536; ++v) {
    words[2 * v] = static_cast<unsigned char>(v >> 8);
    words[2 * v + 1] = static_cast<unsigned char>(v);
  }
  std::vector<unsigned char> want(3 * 65536), got(3 * 65536);
  for (size_t start = 0; start < 65536; start += 512) {
    ConvertRowScalar(&words[2 * start], 512, &want[3 * start]);
    ConvertWith(GetParam(), &words[2 * start], 512, &got[3 * start]);
  }
  for (uint32_t v = 0; v < 65536; ++v) {
    ASSERT_EQ(memcmp(&got[3 * v], &want[3 * v], 3), 0) << Name() << " word " << v;
  }
}

TEST_P(ConvertPaths, EveryWidthAndAlignmentWithinItsBytes) {
  const int kGuard = 64;
  std::vector<unsigned char> source(2 * 512 + 32);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 151 + 7);
  std::vector<unsigned char> want(3 * 512);
  std::vector<unsigned char> buffer(3 * 512 + 32 + 2 * kGuard);
  for (int32_t width = 0; width <= 512; ++width) {
    // The source moves too, so loads are tried unaligned as well.
    const unsigned char* row = &source[static_cast<size_t>(width % 17)];
    ConvertRowScalar(row, width, want.data());
    for (int align = 0; align < 32; ++align) {
      memset(buffer.data(), 0x5A, buffer.size());
      unsigned char* destination = buffer.data() + kGuard + align;
      ConvertWith(GetParam(), row, width, destination);
      ASSERT_EQ(memcmp(destination, want.data(), static_cast<size_t>(3 * width)), 0)
          << Name() << " width " << width << " alignment " << align;
      for (unsigned char* at = buffer.data(); at < buffer.data() + buffer.size(); ++at) {
        if (at == destination) at += 3 * width;
        if (at >= buffer.data() + buffer.size()) break;
        ASSERT_EQ(*at, 0x5A) << Name() << " wrote outside its bytes at width " << width;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(, ConvertPaths, testing::ValuesIn(kPaths),
                         [](const testing::TestParamInfo<ConvertPath>& param) {
                           return std::string(ConvertPathName(param.param));
                         });

TEST(ConvertPathChoice, TakesTheWidestPathAllItsInstructionsAllow) {
  struct Case {
    unsigned features;
    ConvertPath path;
    const char* name;  // as tools print it
  };
  const Case cases[] = {
      {0, kConvertPathScalar, "scalar"},
      {kCpuSsse3, kConvertPathScalar, "scalar"},
      {kCpuSse2, kConvertPathSse2, "sse2"},
      {kCpuSse2 | kCpuAvx2, kConvertPathSse2, "sse2"},
      {kCpuSse2 | kCpuSsse3, kConvertPathSsse3, "ssse3"},
      {kCpuSse2 | kCpuSsse3 | kCpuAvx512Vbmi, kConvertPathSsse3, "ssse3"},
      {kCpuSse2 | kCpuSsse3 | kCpuAvx2, kConvertPathAvx2, "avx2"},
      {kCpuSse2 | kCpuSsse3 | kCpuAvx2 | kCpuAvx512Vbmi, kConvertPathAvx512, "avx512"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertPathFor(c.features), c.path) << "features " << c.features;
    EXPECT_STREQ(ConvertPathName(c.path), c.name);
  }
  EXPECT_STREQ(ConvertPathName(kConvertPathUnchosen), "unchosen");
  EXPECT_EQ(BestConvertPath(), ConvertPathFor(DetectCpuFeatures()));
}

TEST(ConvertPathChoice, IsMadeOnceAndCanBeForcedOnlyWhereSupported) {
  ForceConvertPath(kConvertPathUnchosen);
  ConvertPath chosen = ChosenConvertPath();
  EXPECT_EQ(chosen, BestConvertPath());
  EXPECT_NE(chosen, kConvertPathUnchosen);
  for (ConvertPath path : kPaths) {
    EXPECT_EQ(ForceConvertPath(path), path <= BestConvertPath()) << ConvertPathName(path);
  }
  ForceConvertPath(kConvertPathUnchosen);
}

}  // namespace

// The format core called directly: header probe, pixel conversion, bitmap layout.
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "format/convert_row.h"
#include "format/qlm_bitmap.h"
#include "format/qlm_header.h"
#include "plugin/spi_result.h"
#include "tests/scratch_file.h"
#include "winapi/winapi_testing.h"

namespace {

struct HeaderCase {
  unsigned char bytes[4];
  int32_t result, width, height;
};

const HeaderCase kHeaders[] = {
    {{0x01, 0x40, 0x00, 0xF0}, 4, 320, 240}, {{0x02, 0x00, 0x02, 0x00}, 4, 512, 512},
    {{0x02, 0x01, 0x00, 0x10}, 0, 513, 16},  {{0x00, 0x10, 0x02, 0x01}, 0, 16, 513},
    {{0x00, 0x00, 0x00, 0x00}, 4, 0, 0},     {{0xFF, 0xFF, 0x00, 0x01}, 0, 65535, 1},
    {{0x01, 0xFF, 0x02, 0x00}, 4, 511, 512}, {{0x80, 0x00, 0x00, 0x00}, 0, 32768, 0},
};

TEST(ProbeHeader, ParsesAndLimitsHeadBytesAndFiles) {
  for (const HeaderCase& c : kHeaders) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    QlmDimensions returned = {-1, -1};
    EXPECT_EQ(ProbeHeader(nullptr, c.bytes, &returned), c.result);
    EXPECT_EQ(returned.width, c.width);
    EXPECT_EQ(returned.height, c.height);
    // A rejected header still leaves its values in the module-wide pair.
    EXPECT_EQ(ProbedWidth(), c.width);
    EXPECT_EQ(ProbedHeight(), c.height);

    // The same header as a file, followed by a wrong amount of pixel data: the probe does not
    // look at the size.
    ScratchFile file(
        std::vector<unsigned char>{c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3], 0x12});
    returned = {-1, -1};
    EXPECT_EQ(ProbeHeader(file.path(), nullptr, &returned), c.result);
    EXPECT_EQ(returned.width, c.width);
    EXPECT_EQ(ProbedHeight(), c.height);
  }
}

TEST(ProbeHeader, ReadsOnlyFourHeadBytes) {
  // Nothing beyond the fourth byte may be looked at: a one-past guard would fault under ASan.
  unsigned char* head = static_cast<unsigned char*>(malloc(4));
  head[0] = 0x00, head[1] = 0x02, head[2] = 0x00, head[3] = 0x01;
  EXPECT_EQ(ProbeHeader(nullptr, head, nullptr), 4);
  free(head);
}

TEST(ProbeHeader, UnreadableOrShortFilesAreRejectedAndLeaveThePair) {
  const unsigned char known[4] = {0x00, 0x07, 0x00, 0x09};
  ScratchFile empty(nullptr, 0);
  ScratchFile three(std::vector<unsigned char>{0x00, 0x01, 0x00});
  ScratchFile four(std::vector<unsigned char>{0x00, 0x01, 0x00, 0x02});
  const char* rejected[] = {"/nonexistent/picture.qlm", "", "/tmp", empty.path(), three.path()};
  for (const char* name : rejected) {
    SCOPED_TRACE(name);
    ASSERT_EQ(ProbeHeader(nullptr, known, nullptr), 4);
    QlmDimensions returned = {-1, -1};
    EXPECT_EQ(ProbeHeader(name, nullptr, &returned), 0);
    EXPECT_EQ(returned.width, -1);
    EXPECT_EQ(ProbedWidth(), 7);
    EXPECT_EQ(ProbedHeight(), 9);
  }
  EXPECT_EQ(ProbeHeader(four.path(), nullptr, nullptr), 4);
  EXPECT_EQ(ProbedHeight(), 2);
  // A read that fails is a short read.
  WinFailNth(kWinOpReadFile, 1);
  EXPECT_EQ(ProbeHeader(four.path(), nullptr, nullptr), 0);
  EXPECT_EQ(WinLiveFiles(), 0);
}

TEST(ProbeHeader, OpensOnceReadsOnceClosesOnce) {
  ScratchFile file(std::vector<unsigned char>{0x00, 0x01, 0x00, 0x01, 0xFF, 0xFF});
  WinResetCalls();
  EXPECT_EQ(ProbeHeader(file.path(), nullptr, nullptr), 4);
  EXPECT_EQ(WinCalls(kWinOpCreateFile), 1);
  EXPECT_EQ(WinCalls(kWinOpReadFile), 1);
  EXPECT_EQ(WinCalls(kWinOpSetFilePointer), 0);
  EXPECT_EQ(WinLiveFiles(), 0);
}

struct PixelCase {
  unsigned char word[2];
  unsigned char bgr[3];
};

const PixelCase kPixels[] = {
    {{0xF8, 0x00}, {0x00, 0xFF, 0x00}},  // green
    {{0x07, 0xC0}, {0x00, 0x00, 0xFF}},  // red
    {{0x00, 0x3E}, {0xFF, 0x00, 0x00}},  // blue
    {{0x00, 0x01}, {0x00, 0x00, 0x00}},  // bit 0 is not color
    {{0xFF, 0xFE}, {0xFF, 0xFF, 0xFF}}, {{0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}},
    {{0x12, 0x34}, {0xD6, 0x10, 0x42}}, {{0x84, 0x21}, {0x84, 0x84, 0x84}},
    {{0x00, 0x02}, {0x08, 0x00, 0x00}},
};

TEST(ConvertRow, PixelWords) {
  for (const PixelCase& c : kPixels) {
    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    ConvertRow(c.word, 1, out);
    EXPECT_EQ(out[0], c.bgr[0]) << std::hex << int(c.word[0]) << int(c.word[1]);
    EXPECT_EQ(out[1], c.bgr[1]) << std::hex << int(c.word[0]) << int(c.word[1]);
    EXPECT_EQ(out[2], c.bgr[2]) << std::hex << int(c.word[0]) << int(c.word[1]);
    EXPECT_EQ(out[3], 0xAA) << "wrote past three bytes";
  }
}

TEST(Expand5, RepeatsTheTopBits) {
  EXPECT_EQ(Expand5(0), 0);
  EXPECT_EQ(Expand5(1), 0x08);
  EXPECT_EQ(Expand5(16), 0x84);
  EXPECT_EQ(Expand5(31), 0xFF);
}

TEST(Stride, RoundsThreeBytesPerPixelToFour) {
  const int32_t cases[][2] = {{0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {512, 1536}};
  for (const auto& c : cases) EXPECT_EQ(Stride(c[0]), c[1]) << "width " << c[0];
}

TEST(RowAddress, TopRowGoesLast) {
  // Picture rows p q / s t: block row 0 holds s t, block row 1 holds p q, each padded by 2.
  const unsigned char file[2][4] = {{0xF8, 0x00, 0x07, 0xC0}, {0x00, 0x3E, 0xFF, 0xFF}};
  std::vector<unsigned char> block(size_t(2 * Stride(2)), 0);
  for (int32_t row = 0; row < 2; ++row) {
    ConvertRow(file[row], 2, RowAddress(block.data(), 2, Stride(2), row));
  }
  const std::vector<unsigned char> want = {0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0, 0,
                                           0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0, 0};
  EXPECT_EQ(block, want);
}

TEST(FillBitmapInfo, WritesTheHeaderByteForByte) {
  struct Case {
    int32_t width, height;
    std::vector<unsigned char> bytes;
  };
  const Case cases[] = {
      {320, 240, {40,   0, 0, 0, 0x40, 1, 0, 0, 240, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0x00, 0x84,
                  0x03, 0, 0, 0, 0,    0, 0, 0, 0,   0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0,    0}},
      {0, 7, {40, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0, 0,
              0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0}},
      {512, 512, {40,   0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0x00, 0x00,
                  0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0,    0}},
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> info(kBitmapInfoSize, 0);
    FillBitmapInfo(info.data(), c.width, c.height);
    EXPECT_EQ(info, c.bytes) << c.width << " x " << c.height;
  }
}

TEST(SpiResultText, NamesEveryCodeAsHostsShowIt) {
  const struct {
    int code;
    const char* text;
  } cases[] = {{-1, "function not provided"},
               {0, "success"},
               {1, "cancelled"},
               {2, "not a QLM image: header or size rejected"},
               {4, "out of memory"},
               {6, "cannot open file"},
               {3, "unknown result"}};
  for (const auto& c : cases) EXPECT_STREQ(SpiResultText(c.code), c.text) << c.code;
}

}  // namespace

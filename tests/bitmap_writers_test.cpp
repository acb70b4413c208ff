// Writing a decoded bitmap as BMP, PNG or PPM: the bytes of each, PNG read back by a decoder of
// the test's own on zlib (not the codec that wrote it), blocks a plug-in must not get away with,
// and the formats output names ask for.
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/pictures.h"
#include "tests/picture_fixtures.h"

namespace {

using fixture::Bytes;

// A bitmap as a plug-in hands it over: a BITMAPINFOHEADER and bottom-up BGR rows padded to 4.
struct Blocks {
  Bytes header, pixels;
  DecodedBitmap bitmap() const {
    return DecodedBitmap{header.data(), pixels.empty() ? nullptr : pixels.data(), pixels.size()};
  }
};

Blocks Made(int32_t width, int32_t height) {
  Blocks blocks;
  fixture::Put32Le(40, &blocks.header);
  fixture::Put32Le(uint32_t(width), &blocks.header);
  fixture::Put32Le(uint32_t(height), &blocks.header);
  fixture::Put16Le(1, &blocks.header);
  fixture::Put16Le(24, &blocks.header);
  blocks.header.resize(40, 0);
  const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
  blocks.pixels.resize(stride * size_t(height));
  for (size_t i = 0; i < blocks.pixels.size(); ++i) blocks.pixels[i] = uint8_t(i * 7 + 1);
  return blocks;
}

// The picture top row first, red-green-blue, as PNG and PPM hold it.
Bytes TopDownRgb(const Blocks& blocks, uint32_t width, uint32_t height) {
  const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
  Bytes rgb;
  for (size_t y = height; y-- > 0;) {
    for (size_t x = 0; x < width; ++x) {
      const unsigned char* bgr = &blocks.pixels[y * stride + 3 * x];
      rgb.insert(rgb.end(), {bgr[2], bgr[1], bgr[0]});
    }
  }
  return rgb;
}

uint32_t Be32(const Bytes& bytes, size_t at) {
  return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 |
         bytes[at + 3];
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// An 8-bit RGB, non-interlaced PNG: its size and pixels, or false.
bool DecodeRgbPng(const Bytes& png, uint32_t* width, uint32_t* height, Bytes* rgb) {
  if (png.size() < 33 || memcmp(png.data() + 12, "IHDR", 4) != 0) return false;
  *width = Be32(png, 16), *height = Be32(png, 20);
  if (png[24] != 8 || png[25] != 2 || png[28] != 0) return false;
  Bytes compressed;
  bool ended = false;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = Be32(png, at);
    if (at + 12 + length > png.size()) return false;
    if (Be32(png, at + 8 + length) != fixture::Crc32(&png[at + 4], length + 4)) return false;
    if (memcmp(&png[at + 4], "IDAT", 4) == 0) {
      compressed.insert(compressed.end(), &png[at + 8], &png[at + 8 + length]);
    }
    ended = memcmp(&png[at + 4], "IEND", 4) == 0;
    at += 12 + length;
  }
  const size_t stride = size_t(*width) * 3;
  Bytes raw((stride + 1) * *height);
  uLongf rawSize = uLongf(raw.size());
  if (!ended ||
      uncompress(raw.data(), &rawSize, compressed.data(), uLong(compressed.size())) != Z_OK ||
      rawSize != raw.size()) {
    return false;
  }
  rgb->assign(stride * *height, 0);
  for (size_t y = 0; y < *height; ++y) {
    const unsigned char filter = raw[y * (stride + 1)];
    const unsigned char* in = &raw[y * (stride + 1) + 1];
    unsigned char* out = &(*rgb)[y * stride];
    const unsigned char* above = y > 0 ? &(*rgb)[(y - 1) * stride] : nullptr;
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= 3 ? out[i - 3] : 0, b = above != nullptr ? above[i] : 0;
      const int c = i >= 3 && above != nullptr ? above[i - 3] : 0;
      const int predicted = filter == 0   ? 0
                            : filter == 1 ? a
                            : filter == 2 ? b
                            : filter == 3 ? (a + b) / 2
                            : filter == 4 ? Paeth(a, b, c)
                                          : -1;
      if (predicted < 0) return false;
      out[i] = uint8_t(in[i] + predicted);
    }
  }
  return true;
}

TEST(EncodeBitmap, WritesBmpAndPpmByteForByte) {
  const Blocks blocks = Made(5, 3);  // rows of 15 bytes padded to 16
  Bytes file;
  std::string why;
  ASSERT_TRUE(EncodeBitmap(blocks.bitmap(), ImageFormat::kBmp, &file, &why)) << why;
  Bytes bmp = {'B', 'M'};
  fixture::Put32Le(54 + 48, &bmp);
  fixture::Put32Le(0, &bmp);
  fixture::Put32Le(54, &bmp);
  bmp.insert(bmp.end(), blocks.header.begin(), blocks.header.end());
  bmp.insert(bmp.end(), blocks.pixels.begin(), blocks.pixels.end());
  EXPECT_EQ(file, bmp);

  ASSERT_TRUE(EncodeBitmap(blocks.bitmap(), ImageFormat::kPpm, &file, &why)) << why;
  Bytes ppm = fixture::Text("P6\n5 3\n255\n");
  const Bytes rgb = TopDownRgb(blocks, 5, 3);
  ppm.insert(ppm.end(), rgb.begin(), rgb.end());
  EXPECT_EQ(file, ppm);
}

TEST(EncodeBitmap, WritesPngThatAnotherDecoderReads) {
  std::string why;
  if (!PngAvailable(&why)) GTEST_SKIP() << why;
  for (uint32_t width : {1u, 5u, 64u}) {
    for (uint32_t height : {1u, 3u}) {
      SCOPED_TRACE(testing::Message() << width << " x " << height);
      const Blocks blocks = Made(int32_t(width), int32_t(height));
      Bytes file, rgb;
      ASSERT_TRUE(EncodeBitmap(blocks.bitmap(), ImageFormat::kPng, &file, &why)) << why;
      uint32_t w = 0, h = 0;
      ASSERT_TRUE(DecodeRgbPng(file, &w, &h, &rgb));
      EXPECT_EQ(w, width);
      EXPECT_EQ(h, height);
      EXPECT_EQ(rgb, TopDownRgb(blocks, width, height));
    }
  }
}

TEST(EncodeBitmap, TrustsNoBlockItWasNotPromised) {
  struct Case {
    const char* what;
    size_t at;  // a header byte to change, or past the header for none
    unsigned char value;
    long pixelDelta;
    const char* message;
  };
  const Case cases[] = {
      {"header size 12", 0, 12, 0, "not the 24-bit uncompressed kind"},
      {"2 planes", 12, 2, 0, "not the 24-bit uncompressed kind"},
      {"32 bits a pixel", 14, 32, 0, "not the 24-bit uncompressed kind"},
      {"bit fields", 16, 3, 0, "not the 24-bit uncompressed kind"},
      {"top-down", 11, 0xFF, 0, "impossible dimensions 5 x -16777213"},
      {"negative width", 7, 0x80, 0, "impossible dimensions -2147483643 x 3"},
      {"huge width", 6, 0x01, 0, "impossible dimensions 65541 x 3"},
      {"a pixel block one byte short", 40, 0, -1,
       "pixel block is 47 bytes; a 5 x 3 bitmap needs 48"},
      {"a pixel block one byte long", 40, 0, 1, "pixel block is 49 bytes"},
      {"no pixel block", 40, 0, -48, "pixel block is 0 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Blocks blocks = Made(5, 3);
    if (c.at < 40) blocks.header[c.at] = c.value;
    blocks.pixels.resize(size_t(long(blocks.pixels.size()) + c.pixelDelta), 0);
    for (ImageFormat format : {ImageFormat::kBmp, ImageFormat::kPpm, ImageFormat::kPng}) {
      Bytes file;
      std::string why;
      EXPECT_FALSE(EncodeBitmap(blocks.bitmap(), format, &file, &why));
      EXPECT_NE(why.find(c.message), std::string::npos) << why;
    }
  }
}

TEST(EncodeBitmap, WritesPicturesOfNoPixelsWhereTheFormatAllows) {
  const Blocks blocks = Made(0, 7);
  Bytes file;
  std::string why;
  EXPECT_TRUE(EncodeBitmap(blocks.bitmap(), ImageFormat::kBmp, &file, &why)) << why;
  EXPECT_EQ(file.size(), 54u);
  EXPECT_TRUE(EncodeBitmap(blocks.bitmap(), ImageFormat::kPpm, &file, &why)) << why;
  EXPECT_EQ(file, fixture::Text("P6\n0 7\n255\n"));
  EXPECT_FALSE(EncodeBitmap(blocks.bitmap(), ImageFormat::kPng, &file, &why));
  EXPECT_NE(why.find(PngAvailable(&why) ? "a PNG cannot hold a picture of no pixels (0 x 7)"
                                        : "PNG is not available"),
            std::string::npos)
      << why;
}

TEST(FormatForName, GoesByTheExtensionInAnyCase) {
  struct Case {
    const char* name;
    bool known;
    ImageFormat format;
  };
  const Case cases[] = {
      {"out.bmp", true, ImageFormat::kBmp},
      {"OUT.PNG", true, ImageFormat::kPng},
      {"a/b.c/x.Ppm", true, ImageFormat::kPpm},
      {"x.pnm", true, ImageFormat::kPpm},
      {"x.png.qlm", false, ImageFormat::kBmp},
      {"folder.png/picture", false, ImageFormat::kBmp},
      {"folder.png\\picture", false, ImageFormat::kBmp},
      {"bmp", false, ImageFormat::kBmp},
      {"x.jpg", false, ImageFormat::kBmp},
      {"x.", false, ImageFormat::kBmp},
      {"x.bmpx", false, ImageFormat::kBmp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageFormat format = ImageFormat::kBmp;
    EXPECT_EQ(FormatForName(c.name, &format), c.known);
    if (c.known) {
      EXPECT_EQ(format, c.format);
    }
  }
  for (ImageFormat format : {ImageFormat::kBmp, ImageFormat::kPng, ImageFormat::kPpm}) {
    ImageFormat named = ImageFormat::kBmp;
    EXPECT_TRUE(FormatForWord(FormatWord(format), &named));
    EXPECT_EQ(named, format);
  }
  ImageFormat format;
  EXPECT_FALSE(FormatForWord("gif", &format));
  EXPECT_FALSE(FormatForWord("", &format));
}

}  // namespace

// The picture readers behind `spihost encode`: every layout they take, read to the 16-bit
// sample, and what they say about files they refuse.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/pictures.h"
#include "tests/picture_cases.h"

namespace {

using fixture::Bytes;
using fixture::Text;

Bytes Join(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(ReadPicture, ReadsEveryLayoutToTheSample) {
  std::string why;
  const bool png = PngAvailable(&why);
  for (const fixture::ReadCase& c : fixture::PictureCases()) {
    SCOPED_TRACE(c.name);
    Picture picture;
    if (!png && c.name.compare(0, 3, "png") == 0) {
      // A build without a PNG codec says so, whatever the PNG.
      EXPECT_FALSE(ReadPicture(c.file.data(), c.file.size(), &picture, &why));
      EXPECT_NE(why.find("PNG is not available"), std::string::npos) << why;
      continue;
    }
    ASSERT_TRUE(ReadPicture(c.file.data(), c.file.size(), &picture, &why)) << why;
    EXPECT_EQ(picture.width, c.width);
    EXPECT_EQ(picture.height, c.height);
    EXPECT_EQ(picture.rgb, c.rgb);
  }
}

TEST(ReadPicture, InterlacedAndPlainPngAgree) {
  std::string why;
  if (!PngAvailable(&why)) GTEST_SKIP() << why;
  const std::vector<uint32_t> samples = fixture::Pattern(13 * 11 * 4, 16, 5);
  const Bytes plain = fixture::Png(13, 11, 16, 6, samples);
  const Bytes interlaced = fixture::Png(13, 11, 16, 6, samples, Bytes(), true);
  Picture a, b;
  ASSERT_TRUE(ReadPicture(plain.data(), plain.size(), &a, &why)) << why;
  ASSERT_TRUE(ReadPicture(interlaced.data(), interlaced.size(), &b, &why)) << why;
  EXPECT_EQ(a.rgb, b.rgb);
}

fixture::BmpFields Bmp24(int32_t width, int32_t height) {
  fixture::BmpFields fields;
  fields.width = width, fields.height = height;
  const int32_t rows = height < 0 ? -height : height;
  fields.rows.assign(size_t(rows), Bytes(size_t(width < 0 ? 0 : width) * 3, 0x40));
  return fields;
}

Bytes WithByte(Bytes bytes, size_t at, unsigned char value) {
  bytes[at] = value;
  return bytes;
}

Bytes WithU32Le(Bytes bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
  return bytes;
}

Bytes Truncated(Bytes bytes, size_t drop) {
  bytes.resize(bytes.size() - drop);
  return bytes;
}

struct BadCase {
  const char* what;
  Bytes file;
  const char* message;  // a part of the reason given
};

std::vector<BadCase> BadBmpAndPnm() {
  const Bytes bmp = fixture::Bmp(Bmp24(4, 2));  // rows of 12 bytes
  fixture::BmpFields rle = Bmp24(4, 2);
  rle.bits = 8, rle.compression = 1;
  fixture::BmpFields twoBits = Bmp24(4, 2);
  twoBits.bits = 2;
  fixture::BmpFields indexed = Bmp24(2, 1);
  indexed.bits = 8, indexed.colorsUsed = 2, indexed.palette = Bytes(8, 0);
  indexed.rows = {Bytes{1, 2}};
  fixture::BmpFields gappy = Bmp24(1, 1);
  gappy.bits = 16, gappy.compression = 3, gappy.masks = {0xF00F, 0x0FF0, 0},
  gappy.rows = {Bytes(2)};
  fixture::BmpFields fields24 = Bmp24(1, 1);
  fields24.compression = 3, fields24.masks = {0xFF0000, 0xFF00, 0xFF};
  fixture::BmpFields palette = Bmp24(1, 1);
  palette.bits = 4, palette.palette = Bytes(7 * 4, 0), palette.rows = {Bytes{0}};
  Bytes shortPalette = fixture::Bmp(palette);
  shortPalette.resize(14 + 40 + 7 * 4);  // no pixels either
  return {
      {"a BMP of 16 bytes", Truncated(bmp, bmp.size() - 16), "truncated BMP header: 16 bytes"},
      {"a BMP header cut short", Truncated(bmp, bmp.size() - 30), "truncated BMP header: 30 of 54"},
      {"an unknown BMP header size", WithByte(bmp, 14, 20), "BMP header of 20 bytes"},
      {"RLE", fixture::Bmp(rle), "RLE-compressed"},
      {"BMP compression 4", WithByte(bmp, 30, 4), "BMP compression 4 is not read"},
      {"2 bits a pixel", fixture::Bmp(twoBits), "BMP of 2 bits a pixel is not read"},
      {"negative width", fixture::Bmp(Bmp24(-3, 1)), "BMP width -3 is negative"},
      {"too wide", fixture::Bmp(Bmp24(32769, 0)), "BMP picture is 32,769 x 0"},
      {"too many pixels", WithU32Le(WithU32Le(bmp, 18, 8192), 22, 8193),
       "BMP picture is 8,192 x 8,193; pictures of at most 32,768 pixels a side and 67,108,864"},
      {"truncated pixels", Truncated(bmp, 1), "truncated BMP pixel data: 23 of 24 bytes"},
      {"pixels offset inside the headers", WithByte(bmp, 10, 20), "offset 20 lies inside"},
      {"a color past the palette", fixture::Bmp(indexed), "BMP pixel (1, 0) uses color 2 of a 2"},
      {"masks with gaps", fixture::Bmp(gappy), "one run of at most 16 set bits"},
      {"masks on 24 bits", fixture::Bmp(fields24), "masks need 16 or 32 bits a pixel, not 24"},
      {"truncated palette", shortPalette, "truncated BMP palette: 7 of 16 colors"},
      {"PPM maxval 0", Text("P6 1 1 0\n\1\2\3"), "PPM maxval 0 is out of range (1 to 65535)"},
      {"PPM maxval 65536", Text("P6 1 1 65536\n"), "PPM maxval 65,536 is out of range"},
      {"PGM maxval past 2^32", Text("P5 1 1 99999999999\n"), "PGM maxval 4,294,967,296"},
      {"PPM without height", Text("P6 12"), "truncated PPM header: the height is missing"},
      {"PGM width not a number", Text("P2 x 1 255\n"), "PGM header: its width is not a number"},
      {"no space after magic", Text("P61 1 255\n"), "no space after its magic number"},
      {"no samples", Text("P6 1 1 255"), "truncated PPM data: no samples follow"},
      {"raw sample over maxval", Text("P5 1 1 100\n\xC8"), "PGM sample 200 exceeds its maxval 100"},
      {"plain sample over maxval", Text("P3 1 1 9\n1 2 10"), "PPM sample 10 exceeds its maxval 9"},
      {"raw pixels cut short", Text("P6 2 2 255\nabcde"), "truncated PPM pixel data: 5 of 12"},
      {"16-bit pixels cut short", Text("P5 2 1 1000\n\1\2\3"), "truncated PGM pixel data: 3 of 4"},
      {"plain samples cut short", Text("P2 2 2 9\n1 2 3"), "truncated PGM data: 3 of 4 samples"},
      {"plain junk", Text("P2 2 1 9\n1 z"), "PGM data has a byte 122 where a sample should be"},
      {"plain bitmap junk", Text("P1 2 1\n12"), "PBM data has a byte 50 where"},
      {"PNM too large", Text("P4 40000 1\n"), "PBM picture is 40,000 x 1; pictures of at most"},
      {"an empty file", Bytes(), "not a PNG, BMP or PNM picture (the file is empty)"},
      {"unknown bytes", Text("hello"), "its first bytes are 68 65 6C 6C"},
      {"GIF", Text("GIF89a......"), "a GIF picture, which is not read here"},
      {"JPEG", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0}, "a JPEG picture"},
      {"a QLM file", Bytes{0, 1, 0, 1, 0x12, 0x34}, "a QLM picture, which is not read here"},
      {"PAM", Text("P7\nWIDTH 1\n"), "a PAM (P7) picture"},
  };
}

void ExpectRefused(const std::vector<BadCase>& cases) {
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.what);
    Picture picture;
    picture.width = 7;
    std::string why;
    EXPECT_FALSE(ReadPicture(c.file.data(), c.file.size(), &picture, &why));
    EXPECT_NE(why.find(c.message), std::string::npos) << why;
    EXPECT_EQ(picture.width, 0);
    EXPECT_TRUE(picture.rgb.empty());
  }
}

TEST(ReadPicture, RefusesBadBmpAndPnmSayingWhy) {
  ExpectRefused(BadBmpAndPnm());
}

// Places in a PNG the fixture builds: the IHDR chunk's data begins at 16 and its CRC at 29;
// the IDAT chunk's length is at 33, its data at 41, and its stored block's bytes at 48.
constexpr size_t kIhdrWidth = 16, kIhdrCrc = 29, kIdatLength = 33, kIdatData = 41, kRaw = 48;

Bytes PngOf(uint32_t width, uint32_t height) {
  return fixture::Png(width, height, 8, 2, std::vector<uint32_t>(size_t(width) * height * 3, 9));
}

// A change to the image data with the chunk's CRC mended, so the decoder meets the damage.
Bytes WithImageByte(Bytes png, size_t at, unsigned char value) {
  png[at] = value;
  const size_t length = size_t(png[kIdatLength + 2]) << 8 | png[kIdatLength + 3];
  const uint32_t crc = fixture::Crc32(png.data() + kIdatLength + 4, length + 4);
  for (int i = 0; i < 4; ++i) png[kIdatData + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
  return png;
}

TEST(ReadPicture, RefusesBadPngSayingWhy) {
  std::string why;
  if (!PngAvailable(&why)) {
    ExpectRefused({{"any PNG", PngOf(1, 1), "PNG is not available"}});
    return;
  }
  const Bytes png = PngOf(3, 2);
  Bytes lying = PngOf(1, 1);  // says 8192 x 8192 and holds 1 pixel's data
  for (size_t at : {kIhdrWidth, kIhdrWidth + 4}) lying[at + 2] = 0x20, lying[at + 3] = 0;
  ExpectRefused({
      {"CRC error in IHDR", WithByte(png, kIhdrCrc, png[kIhdrCrc] ^ 1),
       "PNG: CRC error in the IHDR chunk"},
      {"CRC error in IDAT", WithByte(png, png.size() - 13, png[png.size() - 13] ^ 1),
       "PNG: CRC error in the IDAT chunk"},
      {"cut in its image data", Truncated(png, 20), "truncated PNG: the file ends before"},
      {"no end chunk", Truncated(png, 12), "truncated PNG: the file ends before"},
      {"an unknown row filter", WithImageByte(png, kRaw, 9),
       "PNG image data is corrupt: a row has an unknown filter type"},
      {"a broken deflate stream", WithImageByte(png, kIdatData + 2, 0x07),
       "PNG image data is corrupt: its compressed stream is broken"},
      {"too wide", PngOf(32769, 1), "PNG picture is 32,769 x 1"},
      {"more data than the file holds", lying,
       "bytes cannot hold the image data of a 8,192 x 8,192 picture"},
  });
}

// A stream's first block is judged before more is read: what starts as a picture read here,
// or is all there is, goes on to the readers; anything else stops with the readers' reason.
TEST(MayBePicture, StopsAStreamOnlyWhereNoReaderWouldTakeIt) {
  struct Case {
    const char* name;
    Bytes head;
    bool ended;
    bool goesOn;
    const char* reason;
  };
  const Bytes zeros(4096, 0);
  const Case cases[] = {
      {"PNG", Join({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, zeros), false, true, ""},
      {"BMP", Join(Text("BM"), zeros), false, true, ""},
      {"PGM", Join(Text("P5\n"), zeros), false, true, ""},
      {"plain PBM", Join(Text("P1"), zeros), false, true, ""},
      {"zeros", zeros, false, false,
       "not a PNG, BMP or PNM picture (its first bytes are 00 00 00 00)"},
      {"GIF", Join(Text("GIF89a"), zeros), false, false, "a GIF picture, which is not read here"},
      {"PAM", Join(Text("P7\n"), zeros), false, false, "a PAM (P7) picture"},
      {"a PNG signature cut", Join({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, 'x'}, zeros), false,
       false, "not a PNG, BMP or PNM picture"},
      // All of the stream: the readers judge it whole (a QLM file among them).
      {"zeros, ended", zeros, true, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    EXPECT_EQ(MayBePicture(c.head.data(), c.head.size(), c.ended, &why), c.goesOn);
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    if (!c.goesOn) {
      Picture picture;
      std::string readers;
      EXPECT_FALSE(ReadPicture(c.head.data(), c.head.size(), &picture, &readers));
      EXPECT_EQ(why, readers) << "the readers' own words";
    }
  }
}

TEST(ReadPicture, TakesTheLargestSidesItPromises) {
  std::string why;
  Picture picture;
  const Bytes wide = fixture::Bmp(Bmp24(32768, 1));
  ASSERT_TRUE(ReadPicture(wide.data(), wide.size(), &picture, &why)) << why;
  EXPECT_EQ(picture.width, 32768);
  EXPECT_EQ(picture.rgb.size(), size_t(32768) * 3);
  const Bytes tall = Text("P4 1 32768\n");
  Bytes rows = Join(tall, Bytes(32768, 0));
  ASSERT_TRUE(ReadPicture(rows.data(), rows.size(), &picture, &why)) << why;
  EXPECT_EQ(picture.height, 32768);
  // 8192 x 8193 is past the pixel count, refused from the header alone.
  EXPECT_FALSE(ReadPicture(Text("P4 8192 8193\n").data(), 13, &picture, &why));
  EXPECT_NE(why.find("8,192 x 8,193"), std::string::npos) << why;
}

}  // namespace

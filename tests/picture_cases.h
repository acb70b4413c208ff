// Pictures every reader must take, each with the 16-bit samples it holds: every PNG color type
// and bit depth (palettes, tRNS, alpha, interlacing), the BMP layouts and header sizes, and
// each PNM kind. Shared by the unit tests and the Windows checks (whose PNG codec differs).
#ifndef SPIQLM_TESTS_PICTURE_CASES_H
#define SPIQLM_TESTS_PICTURE_CASES_H

#include "tests/picture_fixtures.h"

namespace fixture {

struct ReadCase {
  std::string name;
  Bytes file;
  int width, height;
  std::vector<uint16_t> rgb;  // top row first
};

// A sample of `depth` bits at 16; every depth PNG allows divides 65535 evenly.
inline uint32_t Scale(uint32_t value, int depth) {
  return value * 65535u / ((1u << depth) - 1);
}

// A 16-bit color over black, by a 16-bit alpha.
inline uint16_t Over(uint32_t color, uint32_t alpha) {
  return uint16_t((uint64_t(color) * alpha + 32767) / 65535);
}

// A pattern of samples below 2^depth that reaches both ends of the range.
inline std::vector<uint32_t> Pattern(size_t count, int depth, uint32_t seed) {
  std::vector<uint32_t> samples(count);
  const uint32_t top = (1u << depth) - 1;
  for (size_t i = 0; i < count; ++i) samples[i] = uint32_t(i * 2654435761u + seed) % (top + 1);
  if (count > 1) samples[0] = 0, samples[1] = top;
  return samples;
}

inline void AddPngCases(std::vector<ReadCase>* cases) {
  const uint32_t w = 5, h = 3, n = w * h;
  for (int colorType : {0, 2, 4, 6}) {
    for (int depth : {1, 2, 4, 8, 16}) {
      if (colorType != 0 && depth < 8) continue;
      for (bool interlaced : {false, true}) {
        const uint32_t iw = interlaced ? 9 : w, ih = interlaced ? 7 : h;
        const int channels = Channels(colorType);
        std::vector<uint32_t> samples = Pattern(size_t(iw * ih) * size_t(channels), depth, 7);
        ReadCase c{"png type " + std::to_string(colorType) + " depth " + std::to_string(depth) +
                       (interlaced ? " interlaced" : ""),
                   Png(iw, ih, depth, colorType, samples, Bytes(), interlaced),
                   int(iw),
                   int(ih),
                   {}};
        for (uint32_t p = 0; p < iw * ih; ++p) {
          const uint32_t* s = &samples[size_t(p) * size_t(channels)];
          const bool gray = colorType == 0 || colorType == 4;
          const uint32_t alpha = colorType == 4   ? Scale(s[1], depth)
                                 : colorType == 6 ? Scale(s[3], depth)
                                                  : 65535;
          for (int k = 0; k < 3; ++k) c.rgb.push_back(Over(Scale(s[gray ? 0 : k], depth), alpha));
        }
        cases->push_back(c);
      }
    }
  }
  // Palettes at each depth, the first entries partly transparent by tRNS.
  for (int depth : {1, 2, 4, 8}) {
    const uint32_t entries = depth == 8 ? 20 : 1u << depth;
    Bytes plte, trns = {0, 128, 200};
    for (uint32_t e = 0; e < entries; ++e) {
      plte.insert(plte.end(), {uint8_t(e * 40 + 3), uint8_t(255 - e * 11), uint8_t(e * 7)});
    }
    std::vector<uint32_t> indexes = Pattern(n, depth, 3);
    for (uint32_t& index : indexes) index %= entries;
    Bytes chunks = Chunk("PLTE", plte);
    if (entries > 2) {
      Bytes t = Chunk("tRNS", trns);
      chunks.insert(chunks.end(), t.begin(), t.end());
    }
    ReadCase c{"png palette depth " + std::to_string(depth),
               Png(w, h, depth, 3, indexes, chunks),
               int(w),
               int(h),
               {}};
    for (uint32_t index : indexes) {
      const uint32_t alpha = entries > 2 && index < 3 ? trns[index] * 257u : 65535;
      for (int k = 0; k < 3; ++k) c.rgb.push_back(Over(plte[3 * index + size_t(k)] * 257u, alpha));
    }
    cases->push_back(c);
  }
  // tRNS naming one gray level or one color: those pixels become black.
  {
    std::vector<uint32_t> gray = {0x1234, 0xFEDC, 0x1234};
    ReadCase c{"png gray 16 with a transparent level",
               Png(3, 1, 16, 0, gray, Chunk("tRNS", {0x12, 0x34})),
               3,
               1,
               {0, 0, 0, 0xFEDC, 0xFEDC, 0xFEDC, 0, 0, 0}};
    cases->push_back(c);
    std::vector<uint32_t> rgb = {10, 20, 30, 10, 20, 31};
    ReadCase d{"png rgb 8 with a transparent color",
               Png(2, 1, 8, 2, rgb, Chunk("tRNS", {0, 10, 0, 20, 0, 30})),
               2,
               1,
               {0, 0, 0, 10 * 257, 20 * 257, 31 * 257}};
    cases->push_back(d);
  }
}

inline Bytes Row(std::initializer_list<unsigned> bytes) {
  return Bytes(bytes.begin(), bytes.end());
}

inline void AddBmpCases(std::vector<ReadCase>* cases) {
  const Bytes twoColors = {0, 0, 0, 0, 255, 255, 255, 0};
  const uint16_t k = 0, W = 65535;
  BmpFields one;
  one.width = 9, one.height = 2, one.bits = 1, one.palette = twoColors;
  one.rows = {Row({0x80, 0x80}), Row({0x55, 0x00})};  // bottom row first
  std::vector<uint16_t> rgb1;
  for (char bit : std::string("010101010"
                              "100000001"))
    rgb1.insert(rgb1.end(), 3, bit == '1' ? W : k);
  cases->push_back({"bmp 1 bit bottom-up", Bmp(one), 9, 2, rgb1});
  BmpFields four;
  four.width = 3, four.height = -2, four.bits = 4;
  for (unsigned e = 0; e < 16; ++e)
    four.palette.insert(four.palette.end(), {uint8_t(e), 0, uint8_t(16 * e), 0});
  four.rows = {Row({0x01, 0xF0}), Row({0xA5, 0x30})};
  auto p4 = [](unsigned e) {
    return std::vector<uint16_t>{uint16_t(16 * e * 257), 0, uint16_t(e * 257)};
  };
  std::vector<uint16_t> rgb4;
  for (unsigned e : {0u, 1u, 15u, 10u, 5u, 3u}) {
    std::vector<uint16_t> px = p4(e);
    rgb4.insert(rgb4.end(), px.begin(), px.end());
  }
  cases->push_back({"bmp 4 bits top-down", Bmp(four), 3, 2, rgb4});
  BmpFields eight;
  eight.width = 3, eight.height = 1, eight.bits = 8, eight.colorsUsed = 3;
  eight.palette = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
  eight.rows = {Row({2, 0, 1})};
  cases->push_back(
      {"bmp 8 bits, 3 colors",
       Bmp(eight),
       3,
       1,
       {9 * 257, 8 * 257, 7 * 257, 3 * 257, 2 * 257, 1 * 257, 6 * 257, 5 * 257, 4 * 257}});
  for (uint32_t headerSize : {40u, 108u, 124u}) {
    for (bool topDown : {false, true}) {
      BmpFields s;
      s.headerSize = headerSize;
      s.width = 5, s.height = topDown ? -2 : 2;
      Bytes top = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};  // blue, green, red
      Bytes bottom = {250, 251, 252, 253, 254, 255, 0, 1, 2, 3, 4, 5, 6, 7, 8};
      s.rows = topDown ? std::vector<Bytes>{top, bottom} : std::vector<Bytes>{bottom, top};
      ReadCase c{"bmp 24 bits, header " + std::to_string(headerSize) +
                     (topDown ? " top-down" : " bottom-up"),
                 Bmp(s),
                 5,
                 2,
                 {}};
      for (const Bytes* row : {&top, &bottom}) {
        for (size_t i = 0; i < row->size(); i += 3) {
          for (size_t ch : {size_t(2), size_t(1), size_t(0)})
            c.rgb.push_back(uint16_t((*row)[i + ch] * 257));
        }
      }
      cases->push_back(c);
    }
  }
  BmpFields core;
  core.headerSize = 12, core.width = 2, core.height = 1, core.bits = 8;
  core.palette = {10, 20, 30, 40, 50, 60};  // two 3-byte entries, then the pixels
  core.rows = {Row({1, 0})};
  cases->push_back({"bmp 8 bits, 12-byte header",
                    Bmp(core),
                    2,
                    1,
                    {60 * 257, 50 * 257, 40 * 257, 30 * 257, 20 * 257, 10 * 257}});
  BmpFields x32;
  x32.width = 2, x32.height = 1, x32.bits = 32;
  x32.rows = {Row({1, 2, 3, 0x77, 200, 100, 50, 0})};  // the fourth byte is not used
  cases->push_back(
      {"bmp 32 bits", Bmp(x32), 2, 1, {3 * 257, 2 * 257, 1 * 257, 50 * 257, 100 * 257, 200 * 257}});
  BmpFields x555;
  x555.width = 2, x555.height = 1, x555.bits = 16;
  x555.rows = {Row({0x1F, 0x7C, 0xE0, 0x03})};  // 0x7C1F: red and blue full; 0x03E0: green
  cases->push_back({"bmp 16 bits 5-5-5", Bmp(x555), 2, 1, {W, 0, W, 0, W, 0}});
  BmpFields x565;
  x565.width = 2, x565.height = 1, x565.bits = 16, x565.compression = 3;
  x565.masks = {0xF800, 0x07E0, 0x001F};
  x565.rows = {Row({0x20, 0x00, 0x1F, 0xF8})};  // green 1 of 63; red full, blue full
  cases->push_back({"bmp 16 bits 5-6-5 bit fields", Bmp(x565), 2, 1, {0, 1040, 0, W, 0, W}});
  BmpFields x10;
  x10.headerSize = 124, x10.width = 1, x10.height = 1, x10.bits = 32, x10.compression = 3;
  x10.masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000};
  x10.rows = {Row({0x01, 0x04, 0xF0, 0xFF})};  // red 0x3FF, green 1, blue 1
  cases->push_back({"bmp 32 bits 10-10-10 bit fields, header 124",
                    Bmp(x10),
                    1,
                    1,
                    {W, uint16_t((65535u + 511) / 1023), uint16_t((65535u + 511) / 1023)}});
  BmpFields empty;
  cases->push_back({"bmp 0 x 0", Bmp(empty), 0, 0, {}});
}

inline void AddPnmCases(std::vector<ReadCase>* cases) {
  const uint16_t k = 0, W = 65535;
  cases->push_back({"pbm plain",
                    Text("P1\n# comment\n3 2\n1 0 1\n0 1 0\n"),
                    3,
                    2,
                    {k, k, k, W, W, W, k, k, k, W, W, W, k, k, k, W, W, W}});
  cases->push_back({"pbm plain, digits unspaced", Text("P1 2 1 01"), 2, 1, {W, W, W, k, k, k}});
  Bytes p4 = Text("P4 10 2\n");
  p4.insert(p4.end(), {0x80, 0x40, 0x00, 0x3F});  // each row padded to whole bytes
  std::vector<uint16_t> rgb4;
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 10; ++x) {
      const bool black = y == 0 ? x == 0 || x == 9 : false;
      for (int c = 0; c < 3; ++c) rgb4.push_back(black ? k : W);
    }
  }
  cases->push_back({"pbm raw", p4, 10, 2, rgb4});
  cases->push_back({"pgm plain, maxval 15",
                    Text("P2 3 1 15\n0 15\n  7\n"),
                    3,
                    1,
                    {k, k, k, W, W, W, 30583, 30583, 30583}});
  Bytes p5 = Text("P5 2 1 255\n");
  p5.insert(p5.end(), {0x00, 0x80});
  cases->push_back({"pgm raw, maxval 255", p5, 2, 1, {k, k, k, 0x8080, 0x8080, 0x8080}});
  Bytes p5w = Text("P5 2 1 65535\n");
  p5w.insert(p5w.end(), {0x12, 0x34, 0xFF, 0xFE});
  cases->push_back(
      {"pgm raw, maxval 65535", p5w, 2, 1, {0x1234, 0x1234, 0x1234, 0xFFFE, 0xFFFE, 0xFFFE}});
  cases->push_back(
      {"ppm plain, maxval 65535", Text("P3\n1 1\n65535\n1 65534 300\n"), 1, 1, {1, 65534, 300}});
  Bytes p6 = Text("P6\n# made by hand\n1 1\n1000\n");
  p6.insert(p6.end(), {0x03, 0xE8, 0x01, 0xF4, 0x00, 0x00});  // 1000, 500, 0
  cases->push_back({"ppm raw, maxval 1000", p6, 1, 1, {W, 32768, 0}});
  Bytes p6one = Text("P6 2 1 1\n");
  p6one.insert(p6one.end(), {1, 0, 1, 0, 1, 0});
  cases->push_back({"ppm raw, maxval 1", p6one, 2, 1, {W, k, W, k, W, k}});
}

inline std::vector<ReadCase> PictureCases() {
  std::vector<ReadCase> cases;
  AddPngCases(&cases);
  AddBmpCases(&cases);
  AddPnmCases(&cases);
  return cases;
}

}  // namespace fixture

#endif  // SPIQLM_TESTS_PICTURE_CASES_H

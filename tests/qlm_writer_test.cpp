// The QLM writer and the scaler before it: the nearest 5-bit code for every 16-bit value, the
// word layout, what dithering does to gradients and flat colors, and the box filter's sizes and
// averages.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/pictures.h"

namespace {

// A code as a viewer shows it, at 16 bits.
int Shown(int code) {
  return ((code << 3) | (code >> 2)) * 257;
}

Picture Flat(int width, int height, uint16_t red, uint16_t green, uint16_t blue) {
  Picture picture;
  picture.width = width, picture.height = height;
  for (int i = 0; i < width * height; ++i)
    picture.rgb.insert(picture.rgb.end(), {red, green, blue});
  return picture;
}

// The three codes of each pixel of a QLM file.
std::vector<int> Codes(const std::vector<unsigned char>& qlm) {
  std::vector<int> codes;
  for (size_t at = 4; at + 1 < qlm.size(); at += 2) {
    const int word = qlm[at] << 8 | qlm[at + 1];
    codes.insert(codes.end(), {(word >> 6) & 31, word >> 11, (word >> 1) & 31});
  }
  return codes;
}

TEST(EncodeQlm, PicksTheNearestCodeForEveryValue) {
  // 256 x 256 pixels: red runs through every value, green and blue through it in other orders.
  Picture picture = Flat(256, 256, 0, 0, 0);
  for (int v = 0; v < 65536; ++v) {
    picture.rgb[3 * size_t(v)] = uint16_t(v);
    picture.rgb[3 * size_t(v) + 1] = uint16_t(65535 - v);
    picture.rgb[3 * size_t(v) + 2] = uint16_t(v ^ 0x5A5A);
  }
  const std::vector<int> codes = Codes(EncodeQlm(picture, false));
  ASSERT_EQ(codes.size(), picture.rgb.size());
  for (size_t i = 0; i < codes.size(); ++i) {
    const int value = picture.rgb[i];
    int best = 0;  // of two codes equally near, the higher
    for (int code = 1; code < 32; ++code) {
      if (abs(value - Shown(code)) <= abs(value - Shown(best))) best = code;
    }
    ASSERT_EQ(codes[i], best) << "value " << value;
  }
}

TEST(EncodeQlm, WritesTheHeaderAndWordsBigEndianWithBitZeroClear) {
  struct Case {
    uint16_t red, green, blue;
    unsigned word;
  };
  const Case cases[] = {
      {65535, 0, 0, 0x07C0},
      {0, 65535, 0, 0xF800},
      {0, 0, 65535, 0x003E},
      {65535, 65535, 65535, 0xFFFE},
      {0, 0, 0, 0x0000},
      // 8-bit 7 is nearer code 1 (shown as 8) than code 0, which its top 5 bits would give.
      {7 * 257, 0, 0, 0x0040},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    const std::vector<unsigned char> qlm = EncodeQlm(Flat(1, 1, c.red, c.green, c.blue), false);
    EXPECT_EQ(qlm, (std::vector<unsigned char>{0, 1, 0, 1, uint8_t(c.word >> 8), uint8_t(c.word)}));
  }
  const std::vector<unsigned char> wide = EncodeQlm(Flat(300, 2, 0, 0, 0), true);
  ASSERT_EQ(wide.size(), 4u + 2 * 300 * 2);
  EXPECT_EQ(std::vector<unsigned char>(wide.begin(), wide.begin() + 4),
            (std::vector<unsigned char>{0x01, 0x2C, 0x00, 0x02}));
  EXPECT_EQ(EncodeQlm(Flat(0, 0, 0, 0, 0), false), (std::vector<unsigned char>{0, 0, 0, 0}));
}

TEST(EncodeQlm, GivesNothingForAPictureItCannotHold) {
  Picture wrongSize = Flat(4, 4, 1, 2, 3);
  wrongSize.rgb.pop_back();
  for (const Picture& picture : {Flat(513, 1, 0, 0, 0), Flat(1, 513, 0, 0, 0), wrongSize}) {
    EXPECT_TRUE(EncodeQlm(picture, false).empty());
    EXPECT_TRUE(EncodeQlm(picture, true).empty());
  }
}

TEST(EncodeQlm, DitherLeavesColorsItCanShowExactlyAlone) {
  const std::vector<unsigned char> plain =
      EncodeQlm(Flat(64, 64, uint16_t(Shown(3)), 0, 65535), false);
  EXPECT_EQ(EncodeQlm(Flat(64, 64, uint16_t(Shown(3)), 0, 65535), true), plain);
}

// Measures of a picture of codes against the values it stands for: the mean error, and the
// mean absolute error of 8 x 8 block averages, which is what the eye sees as banding.
struct Measures {
  double meanError, blockError;
};

Measures Measure(const Picture& picture, const std::vector<int>& codes) {
  double sum = 0, blockSum = 0;
  int blocks = 0;
  const int w = picture.width, h = picture.height;
  for (size_t i = 0; i < codes.size(); ++i) sum += Shown(codes[i]) - picture.rgb[i];
  for (int by = 0; by + 8 <= h; by += 8) {
    for (int bx = 0; bx + 8 <= w; bx += 8) {
      for (int c = 0; c < 3; ++c, ++blocks) {
        double error = 0;
        for (int y = by; y < by + 8; ++y) {
          for (int x = bx; x < bx + 8; ++x) {
            const size_t at = (size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c);
            error += Shown(codes[at]) - picture.rgb[at];
          }
        }
        blockSum += fabs(error / 64);
      }
    }
  }
  return {sum / double(codes.size()), blockSum / blocks};
}

TEST(EncodeQlm, DitherKeepsGradientsFromBanding) {
  // A slow gradient in each channel across a 512 x 64 picture, and a flat color QLM cannot show.
  Picture gradient = Flat(512, 64, 0, 0, 0);
  for (size_t y = 0; y < 64; ++y) {
    for (size_t x = 0; x < 512; ++x) {
      uint16_t* rgb = &gradient.rgb[(y * 512 + x) * 3];
      rgb[0] = uint16_t(x * 128), rgb[1] = uint16_t(20000 + x * 16),
      rgb[2] = uint16_t(65535 - x * 64);
    }
  }
  const Picture gray = Flat(512, 64, 100 * 257, 100 * 257, 100 * 257);
  for (const Picture* picture : {static_cast<const Picture*>(&gradient), &gray}) {
    const Measures plain = Measure(*picture, Codes(EncodeQlm(*picture, false)));
    const Measures dithered = Measure(*picture, Codes(EncodeQlm(*picture, true)));
    printf(
        "%s: mean error %.1f plain, %.1f dithered; 8 x 8 block error %.1f plain, %.1f "
        "dithered (in 1/65535)\n",
        picture == &gray ? "flat gray 100/255" : "gradient 512 x 64", plain.meanError,
        dithered.meanError, plain.blockError, dithered.blockError);
    // A code step is about 2,100; dithering brings what the eye averages to a small part of it.
    EXPECT_LT(fabs(dithered.meanError), 20);
    EXPECT_LT(dithered.blockError, 150);
    EXPECT_LT(dithered.blockError * 4, plain.blockError);
  }
}

struct FitCase {
  int width, height, maxSide, fittedWidth, fittedHeight;
};

TEST(FitWithin, KeepsTheAspectAndNeverLosesASide) {
  const FitCase cases[] = {
      {1024, 768, 512, 512, 384}, {768, 1024, 512, 384, 512}, {600, 600, 512, 512, 512},
      {513, 1, 512, 512, 1},      {1, 10000, 512, 1, 512},    {3000, 2, 512, 512, 1},
      {512, 512, 512, 512, 512},  {100, 7, 512, 100, 7},      {0, 0, 512, 0, 0},
      {1000, 333, 100, 100, 33},  {1000, 335, 100, 100, 34},  {5, 3, 1, 1, 1},
      {13570, 0, 512, 512, 0},    {0, 600, 512, 0, 512},
  };
  for (const FitCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " in " << c.maxSide);
    Picture picture = Flat(c.width, c.height, 1, 2, 3);
    FitWithin(c.maxSide, &picture);
    EXPECT_EQ(picture.width, c.fittedWidth);
    EXPECT_EQ(picture.height, c.fittedHeight);
    EXPECT_EQ(picture.rgb.size(), size_t(c.fittedWidth) * size_t(c.fittedHeight) * 3);
  }
}

Picture Random(int width, int height, unsigned seed) {
  std::mt19937 random(seed);
  Picture picture = Flat(width, height, 0, 0, 0);
  for (uint16_t& sample : picture.rgb) sample = uint16_t(random());
  return picture;
}

TEST(FitWithin, AveragesBoxesExactlyOnWholeRatios) {
  for (int ratio : {2, 3}) {
    SCOPED_TRACE(ratio);
    const int width = 512 * ratio, height = 5 * ratio;
    const Picture source = Random(width, height, unsigned(ratio));
    Picture fitted = source;
    FitWithin(512, &fitted);
    ASSERT_EQ(fitted.width, 512);
    ASSERT_EQ(fitted.height, 5);
    for (size_t y = 0; y < 5; ++y) {
      for (size_t x = 0; x < 512; ++x) {
        for (size_t c = 0; c < 3; ++c) {
          uint64_t sum = 0;
          for (size_t j = 0; j < size_t(ratio); ++j) {
            for (size_t i = 0; i < size_t(ratio); ++i) {
              sum +=
                  source.rgb[((y * size_t(ratio) + j) * size_t(width) + x * size_t(ratio) + i) * 3 +
                             c];
            }
          }
          const uint64_t area = uint64_t(ratio) * uint64_t(ratio);
          ASSERT_EQ(fitted.rgb[(y * 512 + x) * 3 + c], (sum + area / 2) / area);
        }
      }
    }
  }
}

TEST(FitWithin, KeepsFlatColorsFlatAndTheMeanOnAnyRatio) {
  Picture flat = Flat(1000, 701, 65535, 12345, 0);
  FitWithin(512, &flat);
  EXPECT_EQ(flat.rgb, Flat(512, 359, 65535, 12345, 0).rgb);
  // Every output pixel covers the same area, so their mean is the source's mean.
  const Picture source = Random(777, 301, 9);
  Picture fitted = source;
  FitWithin(512, &fitted);
  ASSERT_EQ(fitted.width, 512);
  ASSERT_EQ(fitted.height, 198);
  for (size_t c = 0; c < 3; ++c) {
    double before = 0, after = 0;
    for (size_t i = c; i < source.rgb.size(); i += 3) before += source.rgb[i];
    for (size_t i = c; i < fitted.rgb.size(); i += 3) after += fitted.rgb[i];
    EXPECT_NEAR(after / double(fitted.rgb.size() / 3), before / double(source.rgb.size() / 3), 0.5);
  }
}

}  // namespace

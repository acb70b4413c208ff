// The QLM writer and the area-averaging scaler that fits big pictures into it.
//
// A QLM file is a big-endian width and height (2 bytes each), then a 16-bit big-endian word a
// pixel, top row first: green << 11 | red << 6 | blue << 1, bit 0 clear. A viewer widens each
// 5-bit code c to 8 bits as (c << 3) | (c >> 2), so the code written for a channel is the one
// whose widened value lies nearest the input, not merely the input's top 5 bits.
#include "host/picture_formats.h"

namespace {

// A code's value as the viewer shows it, at 16 bits.
int32_t Widened(uint32_t code) {
  return int32_t(((code << 3) | (code >> 2)) * 257u);
}

// The 5-bit code nearest `value` (0 to 65535); halfway goes up. Nearest is the input's top 5
// bits or one of their neighbours, since widening moves a code by less than one step.
uint32_t NearestCode(int32_t value) {
  uint32_t code = uint32_t(value) >> 11;
  if (code < 31 && 2 * value >= Widened(code) + Widened(code + 1)) ++code;
  if (code > 0 && 2 * value < Widened(code - 1) + Widened(code)) --code;
  return code;
}

// Sixteenths of a rounding error, rounded to whole units, half away from zero.
int32_t Sixteenths(int32_t error) {
  return error >= 0 ? (error + 8) / 16 : -((8 - error) / 16);
}

void PutU16(uint32_t value, std::vector<unsigned char>* out) {
  out->push_back(static_cast<unsigned char>(value >> 8));
  out->push_back(static_cast<unsigned char>(value));
}

}  // namespace

std::vector<unsigned char> EncodeQlm(const Picture& picture, bool dither) {
  std::vector<unsigned char> file;
  const size_t width = size_t(picture.width), height = size_t(picture.height);
  if (picture.width < 0 || picture.height < 0 || picture.width > kQlmMaxSide ||
      picture.height > kQlmMaxSide || picture.rgb.size() != width * height * 3) {
    return file;
  }
  file.reserve(4 + 2 * width * height);
  PutU16(uint32_t(width), &file);
  PutU16(uint32_t(height), &file);
  // Floyd-Steinberg: the error of each sample goes 7/16 to the right, 3/16, 5/16 and 1/16 to
  // the row below (left, under, right), kept in sixteenths. One column of slack each side.
  std::vector<int32_t> here((width + 2) * 3), below((width + 2) * 3);
  for (size_t y = 0; y < height; ++y) {
    const uint16_t* rgb = picture.rgb.data() + y * width * 3;
    for (size_t x = 0; x < width; ++x) {
      uint32_t codes[3];
      for (size_t channel = 0; channel < 3; ++channel) {
        const size_t at = (x + 1) * 3 + channel;
        int32_t value = rgb[3 * x + channel];
        if (dither) value += Sixteenths(here[at]);
        value = value < 0 ? 0 : value > 65535 ? 65535 : value;
        codes[channel] = NearestCode(value);
        if (dither) {
          const int32_t error = value - Widened(codes[channel]);
          here[at + 3] += 7 * error;
          below[at - 3] += 3 * error;
          below[at] += 5 * error;
          below[at + 3] += error;
        }
      }
      PutU16(codes[1] << 11 | codes[0] << 6 | codes[2] << 1, &file);
    }
    here.swap(below);
    below.assign(below.size(), 0);
  }
  return file;
}

namespace {

// How much of source cell `i` lies in output cell `o`, along a side of n source cells and m
// output cells measured in n * m units: source cell i spans [i m, (i + 1) m), output cell o
// spans [o n, (o + 1) n), so an output cell gathers n units in all.
uint64_t Overlap(uint64_t i, uint64_t o, uint64_t n, uint64_t m) {
  const uint64_t start = i * m > o * n ? i * m : o * n;
  const uint64_t end = (i + 1) * m < (o + 1) * n ? (i + 1) * m : (o + 1) * n;
  return end > start ? end - start : 0;
}

// Adds `weight` times source row `row`, averaged across into `outWidth` cells, to `sums`.
void AddRow(const uint16_t* row, uint64_t width, uint64_t outWidth, uint64_t weight,
            uint64_t* sums) {
  for (uint64_t o = 0; o < outWidth; ++o) {
    const uint64_t first = o * width / outWidth;
    const uint64_t last = ((o + 1) * width - 1) / outWidth;  // inclusive
    for (uint64_t i = first; i <= last; ++i) {
      const uint64_t share = Overlap(i, o, width, outWidth) * weight;
      for (uint64_t channel = 0; channel < 3; ++channel)
        sums[3 * o + channel] += row[3 * i + channel] * share;
    }
  }
}

}  // namespace

void FitWithin(int maxSide, Picture* picture) {
  const uint64_t width = uint64_t(picture->width), height = uint64_t(picture->height);
  if (maxSide < 1 || (width <= uint64_t(maxSide) && height <= uint64_t(maxSide))) return;
  const uint64_t longest = width > height ? width : height;
  // The longer side becomes maxSide; the other keeps the ratio, rounded, but never vanishes
  // unless it was 0 to begin with.
  uint64_t outWidth = (width * uint64_t(maxSide) + longest / 2) / longest;
  uint64_t outHeight = (height * uint64_t(maxSide) + longest / 2) / longest;
  if (outWidth == 0 && width != 0) outWidth = 1;
  if (outHeight == 0 && height != 0) outHeight = 1;
  // Each output cell covers width x height units of area in all; a sample times that fits in
  // 64 bits for any picture within the readers' caps.
  const uint64_t area = width * height;
  Picture fitted;
  fitted.width = int(outWidth);
  fitted.height = int(outHeight);
  fitted.rgb.assign(size_t(outWidth * outHeight * 3), 0);
  std::vector<uint64_t> sums(size_t(outWidth * 3));
  for (uint64_t o = 0; o < outHeight; ++o) {
    sums.assign(sums.size(), 0);
    const uint64_t first = o * height / outHeight;
    const uint64_t last = ((o + 1) * height - 1) / outHeight;
    for (uint64_t j = first; j <= last; ++j) {
      AddRow(picture->rgb.data() + j * width * 3, width, outWidth, Overlap(j, o, height, outHeight),
             sums.data());
    }
    uint16_t* out = fitted.rgb.data() + o * outWidth * 3;
    for (size_t k = 0; k < sums.size(); ++k) out[k] = uint16_t((sums[k] + area / 2) / area);
  }
  *picture = std::move(fitted);
}

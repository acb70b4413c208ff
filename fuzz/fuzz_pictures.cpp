// One fuzz target for spihost's picture readers (PNG, BMP, PNM, chosen by the first bytes as
// spihost chooses) and what follows a successful read in `spihost encode --fit`:
//
//   - a read either fails with a reason and an empty picture, or gives width x height x 3
//     samples within the readers' caps;
//   - the picture fitted to 512 x 512 keeps its aspect and no side vanishes;
//   - EncodeQlm of the fitted picture, plain and dithered, is a well-formed QLM file;
//   - the fitted picture's 8-bit bitmap written as BMP, PPM and (where available) PNG reads
//     back to the same samples.
//
// A broken invariant aborts.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "host/pictures.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "broken invariant: %s\n", what);
  abort();
}

void CheckQlm(const Picture& picture, bool dither) {
  const std::vector<unsigned char> qlm = EncodeQlm(picture, dither);
  const size_t pixels = size_t(picture.width) * size_t(picture.height);
  Require(qlm.size() == 4 + 2 * pixels, "QLM size is 4 + 2 x width x height");
  Require((qlm[0] << 8 | qlm[1]) == picture.width, "QLM width");
  Require((qlm[2] << 8 | qlm[3]) == picture.height, "QLM height");
  for (size_t at = 5; at < qlm.size(); at += 2) Require((qlm[at] & 1) == 0, "bit 0 clear");
}

// The bitmap a plug-in would hand over for the picture's samples cut to 8 bits.
void CheckWriters(const Picture& picture) {
  const uint32_t width = uint32_t(picture.width), height = uint32_t(picture.height);
  const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
  unsigned char header[40] = {40};
  for (int i = 0; i < 4; ++i) {
    header[4 + i] = uint8_t(width >> (8 * i));
    header[8 + i] = uint8_t(height >> (8 * i));
  }
  header[12] = 1, header[14] = 24;
  std::vector<unsigned char> pixels(stride * height + 1);  // one spare: never a null pointer
  std::vector<uint16_t> expected(picture.rgb.size());
  for (size_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < width; ++x) {
      const uint16_t* rgb = &picture.rgb[(y * width + x) * 3];
      unsigned char* bgr = &pixels[(height - 1 - y) * stride + 3 * x];
      for (size_t c = 0; c < 3; ++c) {
        bgr[2 - c] = uint8_t(rgb[c] >> 8);
        expected[(y * width + x) * 3 + c] = uint16_t((rgb[c] >> 8) * 257);
      }
    }
  }
  const DecodedBitmap bitmap = {header, pixels.data(), stride * height};
  std::string why;
  for (ImageFormat format : {ImageFormat::kBmp, ImageFormat::kPpm, ImageFormat::kPng}) {
    std::vector<unsigned char> file;
    const bool written = EncodeBitmap(bitmap, format, &file, &why);
    if (format == ImageFormat::kPng && (!PngAvailable(&why) || width == 0 || height == 0)) {
      Require(!written, "PNG refused where it cannot be written");
      continue;
    }
    Require(written, "bitmap written");
    Picture back;
    Require(ReadPicture(file.data(), file.size(), &back, &why), "written bitmap reads back");
    Require(back.width == picture.width && back.height == picture.height, "same size back");
    Require(back.rgb == expected, "same samples back");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Picture picture;
  std::string why;
  if (!ReadPicture(data, size, &picture, &why)) {
    Require(!why.empty(), "a failed read says why");
    Require(picture.width == 0 && picture.height == 0 && picture.rgb.empty(), "nothing kept");
    return 0;
  }
  Require(picture.width >= 0 && picture.height >= 0, "sides not negative");
  Require(picture.width <= 32768 && picture.height <= 32768, "sides within the cap");
  Require(uint64_t(picture.width) * uint64_t(picture.height) <= (uint64_t(1) << 26),
          "pixels within the cap");
  Require(picture.rgb.size() == size_t(picture.width) * size_t(picture.height) * 3,
          "width x height x 3 samples");
  const int width = picture.width, height = picture.height;
  FitWithin(kQlmMaxSide, &picture);
  Require(picture.width <= kQlmMaxSide && picture.height <= kQlmMaxSide, "fitted");
  Require((picture.width == 0) == (width == 0) && (picture.height == 0) == (height == 0),
          "no side vanishes");
  // The longer side stays the longer (or equal).
  Require((width >= height) == (picture.width >= picture.height) || width == height ||
              picture.width == picture.height,
          "aspect kept");
  Require(picture.rgb.size() == size_t(picture.width) * size_t(picture.height) * 3,
          "fitted samples");
  CheckQlm(picture, false);
  CheckQlm(picture, true);
  CheckWriters(picture);
  return 0;
}

// Picture files on the host's side: reading inputs, writing .bmp and .qlm outputs. Outputs are
// written to a temporary name beside the target and renamed into place, so a failure never
// leaves a half-made file behind.
#ifndef SPIQLM_HOST_BITMAP_FILES_H
#define SPIQLM_HOST_BITMAP_FILES_H

#include <stddef.h>

#include <string>
#include <vector>

// Reads at most `maxBytes` bytes of `path` (0: all of it).
bool ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<unsigned char>* bytes);

// A .bmp file: the 14-byte file header, the 40-byte BITMAPINFOHEADER at `header`, the pixels.
bool WriteBmpFile(const std::string& path, const unsigned char* header, const unsigned char* pixels,
                  size_t pixelBytes, std::string* why);

struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;  // top row first, 3 bytes a pixel: red, green, blue
};

// Reads a 24-bit uncompressed BMP or a binary PPM (P6, maxval up to 255).
bool ReadRgbPicture(const std::string& path, RgbPicture* picture, std::string* why);

// Writes a QLM file: the big-endian header, then each pixel's channels cut to 5 bits as
// green << 11 | red << 6 | blue << 1.
bool WriteQlmFile(const std::string& path, const RgbPicture& picture, std::string* why);

#endif  // SPIQLM_HOST_BITMAP_FILES_H

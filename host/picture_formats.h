// What the picture readers and writers share among themselves, behind host/pictures.h: the
// caps on what a header may ask for, the words of their messages, and the PNG codec of the
// build (libspng, the Windows Imaging Component, or none).
#ifndef SPIQLM_HOST_PICTURE_FORMATS_H
#define SPIQLM_HOST_PICTURE_FORMATS_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "host/pictures.h"
#include "host/thousands.h"

// A picture read for encoding may be at most this many pixels a side and this many pixels in
// all: room for a 60-megapixel photo, which --fit scales down, while a hostile header can
// never make a reader allocate more than 384 MiB for the picture (6 bytes a pixel).
constexpr uint32_t kMaxPictureSide = 32768;
constexpr uint64_t kMaxPicturePixels = uint64_t(1) << 26;

// Fields of the files, wherever they sit: little-endian in BMP (and in the rows the Windows codec
// gives), big-endian in PNG.
inline uint32_t LittleU16(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8;
}

inline uint32_t LittleU32(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

inline uint32_t BigU32(const unsigned char* at) {
  return uint32_t(at[0]) << 24 | uint32_t(at[1]) << 16 | uint32_t(at[2]) << 8 | at[3];
}

// A refusal: `text` in `*why`, and false.
inline bool Refuse(std::string* why, const std::string& text) {
  *why = text;
  return false;
}

// Fails, saying so in words, when a `format` picture of `width` x `height` is over the caps.
bool CheckPictureSize(const char* format, uint64_t width, uint64_t height, std::string* why);

// Gives `picture` its size and room for every sample, zeroed. The size must have passed
// CheckPictureSize.
void StartPicture(uint32_t width, uint32_t height, Picture* picture);

// A sample of `maxValue` levels (1 to 65535) at 16 bits, rounded to nearest.
inline uint16_t WidenSample(uint32_t value, uint32_t maxValue) {
  return static_cast<uint16_t>((value * 65535u + maxValue / 2) / maxValue);
}

// Checks a PNG's header before a decoder allocates for the size it gives: over the caps, or
// more image data than the file's compressed bytes can expand to, is refused. A header that
// cannot be read is left to the decoder to refuse.
bool CheckPngHeader(const unsigned char* bytes, size_t size, std::string* why);

bool ReadBmp(const unsigned char* bytes, size_t size, Picture* picture, std::string* why);
bool ReadPnm(const unsigned char* bytes, size_t size, Picture* picture, std::string* why);
// Reached only for bytes that start with the PNG signature.
bool ReadPng(const unsigned char* bytes, size_t size, Picture* picture, std::string* why);

// A PNG file of 8-bit RGB rows, top row first, `width` x 3 bytes each without padding.
bool EncodePng(const unsigned char* rgb, uint32_t width, uint32_t height,
               std::vector<unsigned char>* file, std::string* why);

#endif  // SPIQLM_HOST_PICTURE_FORMATS_H

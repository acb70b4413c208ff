// Pictures on the host's side: reading the pictures people have (for encode), the QLM writer,
// and writing a decoded bitmap as BMP, PNG or PPM (for decode).
//
// Everything here works on bytes in memory; reading input files and writing output files
// safely is the caller's business. Nothing here prints.
#ifndef SPIQLM_HOST_PICTURES_H
#define SPIQLM_HOST_PICTURES_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// A picture read for encoding, every format widened to 16 bits a channel so that nothing of a
// deep input is lost before the writer rounds it.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint16_t> rgb;  // top row first; red, green, blue, each 0 to 65535
};

// Reads a PNG, BMP or PNM picture, recognised by its first bytes (never by its name). On
// failure returns false with a reason in `*why` that names what was wrong, for the user, and
// leaves `*picture` empty. Transparent pixels come composited on black. Pictures of more than
// 32,768 pixels a side or 2^26 pixels in all are refused from their header.
bool ReadPicture(const unsigned char* bytes, size_t size, Picture* picture, std::string* why);

// Whether the first `size` bytes of a picture file may start one ReadPicture reads, so a long
// stream of something else is refused before the rest is read; `ended` says they are all of
// it, and ReadPicture then judges them whole. False with ReadPicture's own reason.
bool MayBePicture(const unsigned char* bytes, size_t size, bool ended, std::string* why);

// The largest picture side a QLM file holds.
constexpr int kQlmMaxSide = 512;

// Scales `picture` down with an area-averaging filter so that neither side exceeds `maxSide`,
// keeping the aspect ratio; a picture that fits is left as it is.
void FitWithin(int maxSide, Picture* picture);

// The QLM file of a picture of at most 512 x 512: each channel becomes the 5-bit code whose
// widened value is nearest its own; with `dither` the rounding error is spread to neighbours
// (Floyd-Steinberg). Empty for a picture it cannot hold.
std::vector<unsigned char> EncodeQlm(const Picture& picture, bool dither);

// A bitmap as the plug-in hands it over, locked: its 40-byte BITMAPINFOHEADER and its pixel
// block (bottom-up rows, blue-green-red, rows padded to 4 bytes).
struct DecodedBitmap {
  const unsigned char* header;
  const unsigned char* pixels;
  size_t pixelBytes;
};

enum class ImageFormat { kBmp, kPng, kPpm };

// The format an output name asks for by its extension (case-insensitive); false for a name
// without one of ours.
bool FormatForName(const std::string& name, ImageFormat* format);
// The format a word names ("bmp", "png", "ppm"), as given to --format.
bool FormatForWord(const std::string& word, ImageFormat* format);
// "bmp", "png" or "ppm".
const char* FormatWord(ImageFormat format);

// Whether this build reads and writes PNG; if not, `*why` says so in words for the user.
bool PngAvailable(std::string* why);

// The bytes of a file holding `bitmap` in `format`. Fails, saying why, when the blocks do not
// describe a 24-bit bitmap or the format is not available in this build.
bool EncodeBitmap(const DecodedBitmap& bitmap, ImageFormat format, std::vector<unsigned char>* file,
                  std::string* why);

#endif  // SPIQLM_HOST_PICTURES_H

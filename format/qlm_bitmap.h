// The decoded picture: a 24-bit bottom-up Windows DIB in two blocks.
//
// Pixel word (16 bits, big-endian in the file):
//
//   bit  15 14 13 12 11 | 10  9  8  7  6 |  5  4  3  2  1 | 0
//        green          | red            | blue           | ignored
//
// Each 5-bit channel widens to 8 bits by repeating its top three bits below it, so 0 stays 0 and
// 31 becomes 255. A pixel becomes three bytes: blue, green, red.
//
// Information block (44 bytes, little-endian): a BITMAPINFOHEADER (biSize 40, biWidth, biHeight
// positive for bottom-up rows, biPlanes 1, biBitCount 24, biCompression BI_RGB, biSizeImage =
// stride x height, the rest 0) and 4 zero bytes after it.
//
// Pixel block: height rows of `Stride(width)` bytes, the picture's top row last; the padding
// after 3 x width bytes stays zero.
#ifndef SPIQLM_FORMAT_QLM_BITMAP_H
#define SPIQLM_FORMAT_QLM_BITMAP_H

#include <stdint.h>

constexpr int32_t kBitmapInfoSize = 44;
constexpr int32_t kBitmapInfoHeaderSize = 40;
constexpr int32_t kBitmapBitsPerPixel = 24;

// Bytes per pixel-block row: 3 bytes per pixel rounded up to a multiple of 4.
inline int32_t Stride(int32_t width) {
  return (3 * width + 3) & ~3;
}

// Widens a 5-bit channel to 8 bits.
inline uint8_t Expand5(uint32_t channel) {
  return static_cast<uint8_t>((channel << 3) | (channel >> 2));
}

// Writes the non-zero fields into a zero-filled 44-byte block.
void FillBitmapInfo(unsigned char* info, int32_t width, int32_t height);

// Where picture row `row` (0 = top) starts inside the pixel block.
inline unsigned char* RowAddress(unsigned char* pixels, int32_t height, int32_t stride,
                                 int32_t row) {
  return pixels + static_cast<intptr_t>(height - 1 - row) * stride;
}

#endif  // SPIQLM_FORMAT_QLM_BITMAP_H

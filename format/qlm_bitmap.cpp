#include "format/qlm_bitmap.h"

namespace {

void WriteU16LittleEndian(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

void WriteU32LittleEndian(unsigned char* at, uint32_t value) {
  WriteU16LittleEndian(at, value & 0xFFFFu);
  WriteU16LittleEndian(at + 2, value >> 16);
}

}  // namespace

void FillBitmapInfo(unsigned char* info, int32_t width, int32_t height) {
  WriteU32LittleEndian(info + 0, kBitmapInfoHeaderSize);                           // biSize
  WriteU32LittleEndian(info + 4, static_cast<uint32_t>(width));                    // biWidth
  WriteU32LittleEndian(info + 8, static_cast<uint32_t>(height));                   // biHeight
  WriteU16LittleEndian(info + 12, 1);                                              // biPlanes
  WriteU16LittleEndian(info + 14, kBitmapBitsPerPixel);                            // biBitCount
  WriteU32LittleEndian(info + 20, static_cast<uint32_t>(Stride(width) * height));  // biSizeImage
}

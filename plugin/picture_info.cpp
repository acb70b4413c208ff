// GetPictureInfo: the picture's size and depth from its 4-byte header alone.
#include "format/qlm_bitmap.h"
#include "format/qlm_header.h"
#include "plugin/spi_exports.h"

extern "C" int WINAPI GetPictureInfo(char* source, long length, unsigned int flags,
                                     PictureInfo* info) {
  if (source == nullptr || info == nullptr) return kSpiNotQlm;
  QlmDimensions size;
  int32_t probed;
  if (IsMemoryMode(flags)) {
    // The size itself is not checked here, but a header the buffer does not hold is not read.
    if (length < kQlmHeaderLength) return kSpiNotQlm;
    probed = ProbeHeader(nullptr, reinterpret_cast<unsigned char*>(source), &size);
  } else {
    probed = ProbeHeader(source, nullptr, &size);
  }
  if (probed <= 0) return kSpiNotQlm;
  info->left = 0;
  info->top = 0;
  info->width = size.width;
  info->height = size.height;
  info->x_density = 0;
  info->y_density = 0;
  info->colorDepth = kBitmapBitsPerPixel;
  info->hInfo = nullptr;
  return kSpiOk;
}

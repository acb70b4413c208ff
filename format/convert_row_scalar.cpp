#include "format/convert_row.h"

#include "format/qlm_bitmap.h"

void ConvertRowScalar(const unsigned char* source, int32_t width, unsigned char* destination) {
  for (int32_t k = 0; k < width; ++k) {
    uint32_t word = static_cast<uint32_t>(source[2 * k] << 8 | source[2 * k + 1]);
    destination[3 * k + 0] = Expand5((word >> 1) & 31);   // blue
    destination[3 * k + 1] = Expand5((word >> 11) & 31);  // green
    destination[3 * k + 2] = Expand5((word >> 6) & 31);   // red
  }
}

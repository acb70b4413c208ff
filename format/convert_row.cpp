#include "format/convert_row.h"

void ConvertRow(const unsigned char* source, int32_t width, unsigned char* destination) {
  ConvertRowScalar(source, width, destination);
}

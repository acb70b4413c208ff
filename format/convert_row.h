// Conversion of one row of QLM pixel words into 24-bit blue-green-red pixels.
//
// Every kernel has the same contract: read 2 x width bytes at `source`, write exactly
// 3 x width bytes at `destination`, touch nothing else. Neither pointer needs any alignment.
// ConvertRowScalar is the reference; the others must give its bytes for every input.
#ifndef SPIQLM_FORMAT_CONVERT_ROW_H
#define SPIQLM_FORMAT_CONVERT_ROW_H

#include <stdint.h>

void ConvertRow(const unsigned char* source, int32_t width, unsigned char* destination);

void ConvertRowScalar(const unsigned char* source, int32_t width, unsigned char* destination);

#endif  // SPIQLM_FORMAT_CONVERT_ROW_H

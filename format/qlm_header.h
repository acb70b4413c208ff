// The QLM image header and its probe.
//
// A QLM file is a 4-byte header followed by uncompressed 16-bit pixels:
//
//   offset 0  u16 big-endian  width   pixels per row, 0..512
//   offset 2  u16 big-endian  height  rows, 0..512
//   offset 4  2 x width x height bytes of pixel words, top row first, left to right
//
// There is no magic number: the two dimensions, their limit and (when decoding) the exact file
// size of 4 + 2 x width x height bytes are all that identify the format.
#ifndef SPIQLM_FORMAT_QLM_HEADER_H
#define SPIQLM_FORMAT_QLM_HEADER_H

#include <stdint.h>

#include "winapi/winapi.h"

// Offset of the first pixel word; also what a successful probe returns.
constexpr int32_t kQlmHeaderLength = 4;
// The largest width and height, inclusive. It keeps every size product small: at most
// 524,292 source bytes and 786,432 bitmap bytes, so no arithmetic on dimensions can overflow.
constexpr int32_t kQlmMaxDimension = 512;

struct QlmDimensions {
  int32_t width;
  int32_t height;
};

// Reads the 4 header bytes from `headBytes` when it is not null, otherwise from the start of
// the file `fileName` (one open, one 4-byte read, one close). Returns kQlmHeaderLength when both
// dimensions are within the limit, 0 otherwise.
//
// Whenever 4 header bytes were obtained the parsed pair is stored, before the limit test, in
// the module-wide ProbedWidth/ProbedHeight and in `*dimensions` (when not null), so a rejected
// header still leaves its values there. A file that cannot be opened, or holds fewer than 4
// bytes, yields 0 and stores nothing.
int32_t ProbeHeader(const char* fileName, const unsigned char* headBytes,
                    QlmDimensions* dimensions);

// Opens a QLM file for reading as the probe does, sharing it with other readers; gives
// INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenQlmFile(const char* fileName);

// The pair stored by the most recent probe in any thread; 0 before the first.
int32_t ProbedWidth();
int32_t ProbedHeight();

// Bytes of a well-formed file with these (accepted) dimensions.
inline int32_t QlmFileSize(QlmDimensions dimensions) {
  return kQlmHeaderLength + 2 * dimensions.width * dimensions.height;
}

#endif  // SPIQLM_FORMAT_QLM_HEADER_H

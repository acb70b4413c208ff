// AVX-512 kernel: 32 pixels a step, including the last, partial one. Compiled with
// -mavx512f -mavx512bw -mavx512vbmi and nothing else is.
//
// Blue, green and red are widened as convert_row_layout.h says, into two 64-byte vectors; one
// two-source byte permutation per 64 output bytes then lays them out. Masked loads and stores
// take the row's end, and never touch memory outside it.
#include <immintrin.h>

#include "format/convert_row.h"
#include "format/convert_row_layout.h"

namespace {

// For each output byte of 32 pixels: its byte in the blue-green pairs (0-63) or, from 64 on,
// in the reds (one a 16-bit lane, in its low byte).
alignas(64) const unsigned char kPlacement[128] = {
    0,   1,  64,  2,   3,  66,  4,   5,  68,  6,   7,  70,  8,   9,  72,  10,  11,  74,  12, 13,
    76,  14, 15,  78,  16, 17,  80,  18, 19,  82,  20, 21,  84,  22, 23,  86,  24,  25,  88, 26,
    27,  90, 28,  29,  92, 30,  31,  94, 32,  33,  96, 34,  35,  98, 36,  37,  100, 38,  39, 102,
    40,  41, 104, 42,  43, 106, 44,  45, 108, 46,  47, 110, 48,  49, 112, 50,  51,  114, 52, 53,
    116, 54, 55,  118, 56, 57,  120, 58, 59,  122, 60, 61,  124, 62, 63,  126,
};

// Converts `count` (1 to 32) pixels.
void ConvertStep(const unsigned char* source, int32_t count, unsigned char* destination,
                 __m512i firstPlacement, __m512i secondPlacement) {
  const __mmask32 words = count == 32 ? ~__mmask32{0} : (__mmask32{1} << count) - 1;
  __m512i w = _mm512_maskz_loadu_epi16(words, source);
  __m512i blue = _mm512_mulhi_epu16(_mm512_and_si512(w, _mm512_set1_epi16(kBlueField)),
                                    _mm512_set1_epi16(kBlueScale));
  __m512i green = _mm512_mullo_epi16(_mm512_and_si512(w, _mm512_set1_epi16(kGreenField)),
                                     _mm512_set1_epi16(kGreenScale));
  __m512i blueGreen = _mm512_or_si512(blue, _mm512_and_si512(green, _mm512_set1_epi16(kHighByte)));
  __m512i red =
      _mm512_or_si512(_mm512_mullo_epi16(_mm512_and_si512(w, _mm512_set1_epi16(kRedLowField)),
                                         _mm512_set1_epi16(kRedScale)),
                      _mm512_and_si512(_mm512_srli_epi16(w, 11), _mm512_set1_epi16(kRedTopInLow)));
  __m512i first = _mm512_permutex2var_epi8(blueGreen, firstPlacement, red);
  __m512i second = _mm512_permutex2var_epi8(blueGreen, secondPlacement, red);
  const int32_t bytes = 3 * count;
  if (bytes >= 64) {
    _mm512_storeu_si512(destination, first);
    const int32_t rest = bytes - 64;
    _mm512_mask_storeu_epi8(destination + 64, (__mmask64{1} << rest) - 1, second);
  } else {
    _mm512_mask_storeu_epi8(destination, (__mmask64{1} << bytes) - 1, first);
  }
}

}  // namespace

void ConvertRowAvx512(const unsigned char* source, int32_t width, unsigned char* destination) {
  const __m512i firstPlacement = _mm512_load_si512(kPlacement);
  const __m512i secondPlacement = _mm512_load_si512(kPlacement + 64);
  int32_t k = 0;
  for (; k + 32 <= width; k += 32) {
    ConvertStep(source + 2 * k, 32, destination + 3 * k, firstPlacement, secondPlacement);
  }
  if (k < width) {
    ConvertStep(source + 2 * k, width - k, destination + 3 * k, firstPlacement, secondPlacement);
  }
}

// AVX2 kernel: 32 pixels a step. Compiled with -mavx2 and nothing else is.
//
// The SSSE3 kernel's steps on two groups of 16 pixels at once, one group in each 128-bit lane
// (AVX2 shuffles stay within their lane). The lanes are filled and emptied by 128-bit loads and
// stores rather than lane moves, which would compete with the shuffles for one execution port.
#include <immintrin.h>

#include "format/convert_row.h"

namespace {

#define Z -128  // a shuffle index that yields 0

// Both lanes get the same 16 shuffle indexes.
#define LANES(...) _mm256_setr_epi8(__VA_ARGS__, __VA_ARGS__)

// As in the SSSE3 kernel: blue widened in the low byte of each lane, green in the high byte.
__m256i BlueGreen(__m256i w) {
  __m256i blue =
      _mm256_mulhi_epu16(_mm256_and_si256(w, _mm256_set1_epi16(0x3E00)), _mm256_set1_epi16(1056));
  __m256i green =
      _mm256_mullo_epi16(_mm256_and_si256(w, _mm256_set1_epi16(0x00F8)), _mm256_set1_epi16(264));
  return _mm256_or_si256(blue,
                         _mm256_and_si256(green, _mm256_set1_epi16(static_cast<short>(0xFF00))));
}

// Red widened, in the low byte of each lane for `low` and in the high byte for `high`.
__m256i Reds(__m256i low, __m256i high) {
  const __m256i three = _mm256_set1_epi16(7);
  __m256i lowRed =
      _mm256_or_si256(_mm256_mullo_epi16(_mm256_and_si256(low, three), _mm256_set1_epi16(33)),
                      _mm256_and_si256(_mm256_srli_epi16(low, 11), _mm256_set1_epi16(0x18)));
  __m256i highRed =
      _mm256_or_si256(_mm256_mullo_epi16(_mm256_and_si256(high, three), _mm256_set1_epi16(33 << 8)),
                      _mm256_and_si256(_mm256_srli_epi16(high, 3), _mm256_set1_epi16(0x1800)));
  return _mm256_or_si256(lowRed, highRed);
}

__m256i LoadLanes(const __m128i* low, const __m128i* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(low)),
                                 _mm_loadu_si128(high), 1);
}

}  // namespace

void ConvertRowAvx2(const unsigned char* source, int32_t width, unsigned char* destination) {
  const __m256i first = LANES(0, 1, Z, 2, 3, Z, 4, 5, Z, 6, 7, Z, 8, 9, Z, 10);
  const __m256i firstRed = LANES(Z, Z, 0, Z, Z, 2, Z, Z, 4, Z, Z, 6, Z, Z, 8, Z);
  const __m256i middle = LANES(0, Z, 1, 2, Z, 3, 4, Z, 5, 6, Z, 7, 8, Z, 9, 10);
  const __m256i middleRed = LANES(Z, 10, Z, Z, 12, Z, Z, 14, Z, Z, 1, Z, Z, 3, Z, Z);
  const __m256i last = LANES(Z, 6, 7, Z, 8, 9, Z, 10, 11, Z, 12, 13, Z, 14, 15, Z);
  const __m256i lastRed = LANES(5, Z, Z, 7, Z, Z, 9, Z, Z, 11, Z, Z, 13, Z, Z, 15);
  int32_t k = 0;
  for (; k + 32 <= width; k += 32) {
    // Lane 0 carries pixels 0-15, lane 1 pixels 16-31: the A vector their first eight each.
    const __m128i* in = reinterpret_cast<const __m128i*>(source + 2 * k);
    __m256i wordsA = LoadLanes(in, in + 2);
    __m256i wordsB = LoadLanes(in + 1, in + 3);
    __m256i blueGreenA = BlueGreen(wordsA);
    __m256i blueGreenB = BlueGreen(wordsB);
    __m256i red = Reds(wordsA, wordsB);
    __m256i joined = _mm256_alignr_epi8(blueGreenB, blueGreenA, 11);
    __m256i out0 =
        _mm256_or_si256(_mm256_shuffle_epi8(blueGreenA, first), _mm256_shuffle_epi8(red, firstRed));
    __m256i out1 =
        _mm256_or_si256(_mm256_shuffle_epi8(joined, middle), _mm256_shuffle_epi8(red, middleRed));
    __m256i out2 =
        _mm256_or_si256(_mm256_shuffle_epi8(blueGreenB, last), _mm256_shuffle_epi8(red, lastRed));
    // Lane 0 of out0..out2 is bytes 0-47 of the step's 96, lane 1 bytes 48-95.
    __m128i* out = reinterpret_cast<__m128i*>(destination + 3 * k);
    _mm_storeu_si128(out, _mm256_castsi256_si128(out0));
    _mm_storeu_si128(out + 1, _mm256_castsi256_si128(out1));
    _mm_storeu_si128(out + 2, _mm256_castsi256_si128(out2));
    _mm_storeu_si128(out + 3, _mm256_extracti128_si256(out0, 1));
    _mm_storeu_si128(out + 4, _mm256_extracti128_si256(out1, 1));
    _mm_storeu_si128(out + 5, _mm256_extracti128_si256(out2, 1));
  }
  ConvertRowSsse3(source + 2 * k, width - k, destination + 3 * k);
}

// SSSE3 kernel: 16 pixels a step. Compiled with -mssse3 and nothing else is.
//
// Each channel is widened straight from the stored words, with multiplications standing in for
// shift-and-or: for a 5-bit c, (c << 3) | (c >> 2) is c * 33 / 4, rounded down. Blue and green
// come out side by side in 16-bit lanes, the reds of both halves interleaved in a third vector;
// byte shuffles then lay the 48 output bytes out as three whole vectors.
#include <tmmintrin.h>

#include "format/convert_row.h"

namespace {

#define Z -128  // a shuffle index that yields 0

// A stored word read as little-endian is (second byte << 8) | first byte:
//   bit 15 14 | 13 12 11 10  9 |  8 |  7  6  5  4  3 |  2  1  0
//       r1 r0 | b4 b3 b2 b1 b0 |  - | g4 g3 g2 g1 g0 | r4 r3 r2
// Blue widened in the low byte, green widened in the high byte.
__m128i BlueGreen(__m128i w) {
  __m128i blue = _mm_mulhi_epu16(_mm_and_si128(w, _mm_set1_epi16(0x3E00)), _mm_set1_epi16(1056));
  __m128i green = _mm_mullo_epi16(_mm_and_si128(w, _mm_set1_epi16(0x00F8)), _mm_set1_epi16(264));
  return _mm_or_si128(blue, _mm_and_si128(green, _mm_set1_epi16(static_cast<short>(0xFF00))));
}

// Red widened, in the low byte of each lane for `low` and in the high byte for `high`.
__m128i Reds(__m128i low, __m128i high) {
  const __m128i three = _mm_set1_epi16(7);
  __m128i lowRed = _mm_or_si128(_mm_mullo_epi16(_mm_and_si128(low, three), _mm_set1_epi16(33)),
                                _mm_and_si128(_mm_srli_epi16(low, 11), _mm_set1_epi16(0x18)));
  __m128i highRed =
      _mm_or_si128(_mm_mullo_epi16(_mm_and_si128(high, three), _mm_set1_epi16(33 << 8)),
                   _mm_and_si128(_mm_srli_epi16(high, 3), _mm_set1_epi16(0x1800)));
  return _mm_or_si128(lowRed, highRed);
}

}  // namespace

void ConvertRowSsse3(const unsigned char* source, int32_t width, unsigned char* destination) {
  // Output bytes 0-15, 16-31 and 32-47 of 16 pixels, from blue-green pairs (B0 G0 B1 G1 ...)
  // and reds (R0 R8 R1 R9 ...).
  const __m128i first = _mm_setr_epi8(0, 1, Z, 2, 3, Z, 4, 5, Z, 6, 7, Z, 8, 9, Z, 10);
  const __m128i firstRed = _mm_setr_epi8(Z, Z, 0, Z, Z, 2, Z, Z, 4, Z, Z, 6, Z, Z, 8, Z);
  // The middle vector reads pairs 11-15 of the first half and 0-10 of the second, joined.
  const __m128i middle = _mm_setr_epi8(0, Z, 1, 2, Z, 3, 4, Z, 5, 6, Z, 7, 8, Z, 9, 10);
  const __m128i middleRed = _mm_setr_epi8(Z, 10, Z, Z, 12, Z, Z, 14, Z, Z, 1, Z, Z, 3, Z, Z);
  const __m128i last = _mm_setr_epi8(Z, 6, 7, Z, 8, 9, Z, 10, 11, Z, 12, 13, Z, 14, 15, Z);
  const __m128i lastRed = _mm_setr_epi8(5, Z, Z, 7, Z, Z, 9, Z, Z, 11, Z, Z, 13, Z, Z, 15);
  int32_t k = 0;
  for (; k + 16 <= width; k += 16) {
    const __m128i* in = reinterpret_cast<const __m128i*>(source + 2 * k);
    __m128i wordsA = _mm_loadu_si128(in);
    __m128i wordsB = _mm_loadu_si128(in + 1);
    __m128i blueGreenA = BlueGreen(wordsA);
    __m128i blueGreenB = BlueGreen(wordsB);
    __m128i red = Reds(wordsA, wordsB);
    __m128i joined = _mm_alignr_epi8(blueGreenB, blueGreenA, 11);
    __m128i* out = reinterpret_cast<__m128i*>(destination + 3 * k);
    _mm_storeu_si128(
        out, _mm_or_si128(_mm_shuffle_epi8(blueGreenA, first), _mm_shuffle_epi8(red, firstRed)));
    _mm_storeu_si128(
        out + 1, _mm_or_si128(_mm_shuffle_epi8(joined, middle), _mm_shuffle_epi8(red, middleRed)));
    _mm_storeu_si128(
        out + 2, _mm_or_si128(_mm_shuffle_epi8(blueGreenB, last), _mm_shuffle_epi8(red, lastRed)));
  }
  ConvertRowScalar(source + 2 * k, width - k, destination + 3 * k);
}

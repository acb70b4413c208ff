// SSSE3 kernel: 16 pixels a step. Compiled with -mssse3 and nothing else is.
//
// Each channel is widened straight from the stored words by multiplications (see
// convert_row_layout.h): blue and green side by side in 16-bit lanes, the reds of both halves
// interleaved in a third vector. Byte shuffles then lay the 48 output bytes out as three whole
// vectors.
#include <tmmintrin.h>

#include "format/convert_row.h"
#include "format/convert_row_layout.h"

namespace {

// Blue widened in the low byte of each lane, green in the high byte.
__m128i BlueGreen(__m128i w) {
  __m128i blue =
      _mm_mulhi_epu16(_mm_and_si128(w, _mm_set1_epi16(kBlueField)), _mm_set1_epi16(kBlueScale));
  __m128i green =
      _mm_mullo_epi16(_mm_and_si128(w, _mm_set1_epi16(kGreenField)), _mm_set1_epi16(kGreenScale));
  return _mm_or_si128(blue, _mm_and_si128(green, _mm_set1_epi16(kHighByte)));
}

// Red widened, in the low byte of each lane for `low` and in the high byte for `high`.
__m128i Reds(__m128i low, __m128i high) {
  const __m128i field = _mm_set1_epi16(kRedLowField);
  __m128i lowRed =
      _mm_or_si128(_mm_mullo_epi16(_mm_and_si128(low, field), _mm_set1_epi16(kRedScale)),
                   _mm_and_si128(_mm_srli_epi16(low, 11), _mm_set1_epi16(kRedTopInLow)));
  __m128i highRed =
      _mm_or_si128(_mm_mullo_epi16(_mm_and_si128(high, field), _mm_set1_epi16(kRedScale << 8)),
                   _mm_and_si128(_mm_srli_epi16(high, 3), _mm_set1_epi16(kRedTopInHigh)));
  return _mm_or_si128(lowRed, highRed);
}

__m128i Shuffle(const signed char* indexes) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(indexes));
}

}  // namespace

void ConvertRowSsse3(const unsigned char* source, int32_t width, unsigned char* destination) {
  const __m128i first = Shuffle(kPlaceFirst), firstRed = Shuffle(kPlaceFirstRed);
  const __m128i middle = Shuffle(kPlaceMiddle), middleRed = Shuffle(kPlaceMiddleRed);
  const __m128i last = Shuffle(kPlaceLast), lastRed = Shuffle(kPlaceLastRed);
  int32_t k = 0;
  for (; k + 16 <= width; k += 16) {
    const __m128i* in = reinterpret_cast<const __m128i*>(source + 2 * k);
    __m128i wordsA = _mm_loadu_si128(in);
    __m128i wordsB = _mm_loadu_si128(in + 1);
    __m128i blueGreenA = BlueGreen(wordsA);
    __m128i blueGreenB = BlueGreen(wordsB);
    __m128i red = Reds(wordsA, wordsB);
    __m128i joined = _mm_alignr_epi8(blueGreenB, blueGreenA, kMiddleJoin);
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

// SSE2 kernel: 8 pixels a step. Compiled with -msse2 and nothing else is.
//
// Without byte shuffles the three bytes of each pixel are built as 32-bit B G R 0 values and
// then closed up with shifts and masks, three bytes a pixel.
#include <emmintrin.h>

#include "format/convert_row.h"

namespace {

// One pixel word per 16-bit lane (already in host order) to its expanded channels: blue in the
// low byte and green in the high byte of `blueGreen`, red in the low byte of `red`.
void Expand(__m128i v, __m128i* blueGreen, __m128i* red) {
  const __m128i lowFive = _mm_set1_epi16(0x00F8);
  const __m128i lowThree = _mm_set1_epi16(0x0007);
  __m128i blue = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 2), lowFive),
                              _mm_and_si128(_mm_srli_epi16(v, 3), lowThree));
  __m128i green = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800))),
                               _mm_and_si128(_mm_srli_epi16(v, 5), _mm_set1_epi16(0x0700)));
  *blueGreen = _mm_or_si128(blue, green);
  *red = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 3), lowFive),
                      _mm_and_si128(_mm_srli_epi16(v, 8), lowThree));
}

// Four B G R 0 values to 12 contiguous bytes in the low bytes of the result.
__m128i CloseUp(__m128i pixels) {
  // Within each 64-bit half: the second pixel moves down one byte onto the first's zero.
  const __m128i first = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i second = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                       static_cast<int>(0xFF000000));
  __m128i halves =
      _mm_or_si128(_mm_and_si128(pixels, first), _mm_and_si128(_mm_srli_epi64(pixels, 8), second));
  // Then the upper half's six bytes move down next to the lower half's.
  const __m128i lowSix = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
  return _mm_or_si128(_mm_and_si128(halves, lowSix),
                      _mm_andnot_si128(lowSix, _mm_srli_si128(halves, 2)));
}

}  // namespace

void ConvertRowSse2(const unsigned char* source, int32_t width, unsigned char* destination) {
  int32_t k = 0;
  for (; k + 8 <= width; k += 8) {
    __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * k));
    __m128i v = _mm_or_si128(_mm_slli_epi16(raw, 8), _mm_srli_epi16(raw, 8));
    __m128i blueGreen, red;
    Expand(v, &blueGreen, &red);
    __m128i low = CloseUp(_mm_unpacklo_epi16(blueGreen, red));
    __m128i high = CloseUp(_mm_unpackhi_epi16(blueGreen, red));
    unsigned char* out = destination + 3 * k;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(low, _mm_slli_si128(high, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_srli_si128(high, 4));
  }
  ConvertRowScalar(source + 2 * k, width - k, destination + 3 * k);
}

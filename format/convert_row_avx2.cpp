// AVX2 kernel: 32 pixels a step. Compiled with -mavx2 and nothing else is.
//
// The SSSE3 kernel's steps on two groups of 16 pixels at once, one group in each 128-bit lane
// (AVX2 shuffles stay within their lane). The lanes are filled and emptied by 128-bit loads and
// stores rather than lane moves, which would compete with the shuffles for one execution port.
//
// The loop keeps every value in a register or reads it as an instruction's memory operand, and
// never spills a ymm register: on 64-bit Windows, where unwind data rules out realigning the
// frame, a spill slot is aligned to 16 bytes only. Hence the high reds reuse the low reds'
// constants, and the shuffles are whole 32-byte constants the compiler can read from memory
// when registers run short, rather than broadcasts it would have to keep.
#include <immintrin.h>

#include "format/convert_row.h"
#include "format/convert_row_layout.h"

namespace {

// As in the SSSE3 kernel: blue widened in the low byte of each lane, green in the high byte.
__m256i BlueGreen(__m256i w) {
  __m256i blue = _mm256_mulhi_epu16(_mm256_and_si256(w, _mm256_set1_epi16(kBlueField)),
                                    _mm256_set1_epi16(kBlueScale));
  __m256i green = _mm256_mullo_epi16(_mm256_and_si256(w, _mm256_set1_epi16(kGreenField)),
                                     _mm256_set1_epi16(kGreenScale));
  return _mm256_or_si256(blue, _mm256_and_si256(green, _mm256_set1_epi16(kHighByte)));
}

// Red widened, in the low byte of each lane for `low` and in the high byte for `high`.
__m256i Reds(__m256i low, __m256i high) {
  const __m256i field = _mm256_set1_epi16(kRedLowField);
  __m256i lowRed = _mm256_or_si256(
      _mm256_mullo_epi16(_mm256_and_si256(low, field), _mm256_set1_epi16(kRedScale)),
      _mm256_and_si256(_mm256_srli_epi16(low, 11), _mm256_set1_epi16(kRedTopInLow)));
  __m256i highRed = _mm256_slli_epi16(
      _mm256_or_si256(
          _mm256_mullo_epi16(_mm256_and_si256(high, field), _mm256_set1_epi16(kRedScale)),
          _mm256_and_si256(_mm256_srli_epi16(high, 11), _mm256_set1_epi16(kRedTopInLow))),
      8);
  return _mm256_or_si256(lowRed, highRed);
}

// The same 16 shuffle indexes in both lanes.
struct LaneShuffle {
  signed char bytes[32];
};

constexpr LaneShuffle BothLanes(const signed char (&indexes)[16]) {
  LaneShuffle shuffle{};
  for (int i = 0; i < 32; ++i) shuffle.bytes[i] = indexes[i % 16];
  return shuffle;
}

constexpr LaneShuffle kFirst = BothLanes(kPlaceFirst), kFirstRed = BothLanes(kPlaceFirstRed);
constexpr LaneShuffle kMiddle = BothLanes(kPlaceMiddle), kMiddleRed = BothLanes(kPlaceMiddleRed);
constexpr LaneShuffle kLast = BothLanes(kPlaceLast), kLastRed = BothLanes(kPlaceLastRed);

__m256i Shuffle(const LaneShuffle& shuffle) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shuffle.bytes));
}

__m256i LoadLanes(const __m128i* low, const __m128i* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(low)),
                                 _mm_loadu_si128(high), 1);
}

}  // namespace

void ConvertRowAvx2(const unsigned char* source, int32_t width, unsigned char* destination) {
  const __m256i first = Shuffle(kFirst), firstRed = Shuffle(kFirstRed);
  const __m256i middle = Shuffle(kMiddle), middleRed = Shuffle(kMiddleRed);
  const __m256i last = Shuffle(kLast), lastRed = Shuffle(kLastRed);
  int32_t k = 0;
  for (; k + 32 <= width; k += 32) {
    // Lane 0 carries pixels 0-15, lane 1 pixels 16-31: the A vector their first eight each.
    const __m128i* in = reinterpret_cast<const __m128i*>(source + 2 * k);
    __m256i wordsA = LoadLanes(in, in + 2);
    __m256i wordsB = LoadLanes(in + 1, in + 3);
    __m256i blueGreenA = BlueGreen(wordsA);
    __m256i blueGreenB = BlueGreen(wordsB);
    __m256i red = Reds(wordsA, wordsB);
    __m256i joined = _mm256_alignr_epi8(blueGreenB, blueGreenA, kMiddleJoin);
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

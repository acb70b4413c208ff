// What the SSSE3, AVX2 and AVX-512 kernels share: how a channel is widened straight from a
// stored pixel word, and where the widened bytes go. Data only, so it can be included by files
// compiled for different instruction sets.
//
// A stored word read as little-endian is (second byte << 8) | first byte:
//   bit 15 14 | 13 12 11 10  9 |  8 |  7  6  5  4  3 |  2  1  0
//       r1 r0 | b4 b3 b2 b1 b0 |  - | g4 g3 g2 g1 g0 | r4 r3 r2
// For a 5-bit c, (c << 3) | (c >> 2) is c * 33 / 4 rounded down, so one multiplication of the
// masked field both moves and widens it:
//   blue  = high16((w & 0x3E00) * 1056)          in the low byte
//   green = low16((w & 0x00F8) * 264) & 0xFF00   in the high byte
//   red   = (w & 7) * 33 | (w >> 11) & 0x18      in the low byte
//         = (w & 7) * (33 << 8) | (w >> 3) & 0x1800   in the high byte
#ifndef SPIQLM_FORMAT_CONVERT_ROW_LAYOUT_H
#define SPIQLM_FORMAT_CONVERT_ROW_LAYOUT_H

constexpr short kBlueField = 0x3E00;
constexpr short kBlueScale = 1056;
constexpr short kGreenField = 0x00F8;
constexpr short kGreenScale = 264;
constexpr short kHighByte = static_cast<short>(0xFF00);
constexpr short kRedLowField = 7;
constexpr short kRedScale = 33;
constexpr short kRedTopInLow = 0x18;
constexpr short kRedTopInHigh = 0x1800;

// Byte shuffles for 16 pixels: output bytes 0-15, 16-31 and 32-47, each from the blue-green
// pairs (B0 G0 B1 G1 ...) and from the reds of both halves interleaved (R0 R8 R1 R9 ...). The
// middle vector reads pairs 11-15 of the first half and 0-10 of the second, joined first.
// -128 yields a zero byte.
#define Z -128
alignas(16) constexpr signed char kPlaceFirst[16] = {0, 1, Z, 2, 3, Z, 4, 5,
                                                     Z, 6, 7, Z, 8, 9, Z, 10};
alignas(16) constexpr signed char kPlaceFirstRed[16] = {Z, Z, 0, Z, Z, 2, Z, Z,
                                                        4, Z, Z, 6, Z, Z, 8, Z};
alignas(16) constexpr signed char kPlaceMiddle[16] = {0, Z, 1, 2, Z, 3, 4, Z,
                                                      5, 6, Z, 7, 8, Z, 9, 10};
alignas(16) constexpr signed char kPlaceMiddleRed[16] = {Z, 10, Z, Z, 12, Z, Z, 14,
                                                         Z, Z,  1, Z, Z,  3, Z, Z};
alignas(16) constexpr signed char kPlaceLast[16] = {Z,  6, 7,  Z,  8, 9,  Z,  10,
                                                    11, Z, 12, 13, Z, 14, 15, Z};
alignas(16) constexpr signed char kPlaceLastRed[16] = {5, Z,  Z, 7, Z,  Z, 9, Z,
                                                       Z, 11, Z, Z, 13, Z, Z, 15};
#undef Z
// Where the middle vector's joined pairs start in the first half's bytes.
constexpr int kMiddleJoin = 11;

#endif  // SPIQLM_FORMAT_CONVERT_ROW_LAYOUT_H

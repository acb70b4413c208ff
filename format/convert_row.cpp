#include "format/convert_row.h"

#include <atomic>

#ifdef SPIQLM_X86_KERNELS
#include <cpuid.h>
#endif

namespace {

// Relaxed: any thread that finds it unchosen chooses the same value.
std::atomic<int> chosen_path{kConvertPathUnchosen};

#ifdef SPIQLM_X86_KERNELS
// XCR0, by the instruction's bytes so that this file needs no -mxsave.
uint32_t ReadXcr0() {
  uint32_t low, high;
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));
  return low;
}
#endif

}  // namespace

ConvertPath BestConvertPath() {
#ifdef SPIQLM_X86_KERNELS
  unsigned eax, ebx, ecx, edx;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return kConvertPathScalar;
  const bool sse2 = (edx & bit_SSE2) != 0;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  // Wide registers count only when the system saves them: XCR0 bits 1 and 2 for AVX, and
  // bits 5 to 7 as well for AVX-512.
  const uint32_t xcr0 = (ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0 ? ReadXcr0() : 0;
  const bool avxState = (xcr0 & 0x06) == 0x06;
  const bool avx512State = (xcr0 & 0xE6) == 0xE6;
  unsigned ebx7 = 0, ecx7 = 0;
  if (avxState && __get_cpuid_count(7, 0, &eax, &ebx7, &ecx7, &edx) == 0) ebx7 = ecx7 = 0;
  const bool avx2 = sse2 && ssse3 && avxState && (ebx7 & bit_AVX2) != 0;
  if (avx2 && avx512State && (ebx7 & bit_AVX512F) != 0 && (ebx7 & bit_AVX512BW) != 0 &&
      (ecx7 & bit_AVX512VBMI) != 0) {
    return kConvertPathAvx512;
  }
  if (avx2) return kConvertPathAvx2;
  if (sse2 && ssse3) return kConvertPathSsse3;
  if (sse2) return kConvertPathSse2;
#endif
  return kConvertPathScalar;
}

ConvertPath ChosenConvertPath() {
  int path = chosen_path.load(std::memory_order_relaxed);
  if (path == kConvertPathUnchosen) {
    path = BestConvertPath();
    chosen_path.store(path, std::memory_order_relaxed);
  }
  return static_cast<ConvertPath>(path);
}

const char* ConvertPathName(ConvertPath path) {
  switch (path) {
    case kConvertPathScalar:
      return "scalar";
    case kConvertPathSse2:
      return "sse2";
    case kConvertPathSsse3:
      return "ssse3";
    case kConvertPathAvx2:
      return "avx2";
    case kConvertPathAvx512:
      return "avx512";
    default:
      return "unchosen";
  }
}

bool ForceConvertPath(ConvertPath path) {
  if (path > BestConvertPath()) return false;
  chosen_path.store(path, std::memory_order_relaxed);
  return true;
}

void ConvertRow(const unsigned char* source, int32_t width, unsigned char* destination) {
  switch (ChosenConvertPath()) {
#ifdef SPIQLM_X86_KERNELS
    case kConvertPathAvx512:
      ConvertRowAvx512(source, width, destination);
      return;
    case kConvertPathAvx2:
      ConvertRowAvx2(source, width, destination);
      return;
    case kConvertPathSsse3:
      ConvertRowSsse3(source, width, destination);
      return;
    case kConvertPathSse2:
      ConvertRowSse2(source, width, destination);
      return;
#endif
    default:
      ConvertRowScalar(source, width, destination);
      return;
  }
}

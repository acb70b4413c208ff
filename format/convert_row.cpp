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

unsigned DetectCpuFeatures() {
  unsigned features = 0;
#ifdef SPIQLM_X86_KERNELS
  // What cpuid answers is this machine's own, so these branches go one way here; the choice
  // made from the answer is ConvertPathFor, which tests take through every combination.
  // GCOVR_EXCL_BR_START
  unsigned eax, ebx, ecx, edx;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;  // GCOVR_EXCL_LINE: pre-1993 CPU
  if ((edx & bit_SSE2) != 0) features |= kCpuSse2;
  if ((ecx & bit_SSSE3) != 0) features |= kCpuSsse3;
  // Wide registers count only when the system saves them: XCR0 bits 1 and 2 for AVX, and
  // bits 5 to 7 as well for AVX-512.
  const uint32_t xcr0 = (ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0 ? ReadXcr0() : 0;
  unsigned ebx7 = 0, ecx7 = 0;
  if ((xcr0 & 0x06) == 0x06 && __get_cpuid_count(7, 0, &eax, &ebx7, &ecx7, &edx) != 0) {
    if ((ebx7 & bit_AVX2) != 0) features |= kCpuAvx2;
    if ((xcr0 & 0xE6) == 0xE6 && (ebx7 & bit_AVX512F) != 0 && (ebx7 & bit_AVX512BW) != 0 &&
        (ecx7 & bit_AVX512VBMI) != 0) {
      features |= kCpuAvx512Vbmi;
    }
  }
  // GCOVR_EXCL_BR_STOP
#endif
  return features;
}

ConvertPath ConvertPathFor(unsigned features) {
  // Each path also uses every narrower one's instructions, for the ends of rows.
  const unsigned avx2 = kCpuSse2 | kCpuSsse3 | kCpuAvx2;
#ifdef SPIQLM_AVX512_KERNEL
  if ((features & (avx2 | kCpuAvx512Vbmi)) == (avx2 | kCpuAvx512Vbmi)) return kConvertPathAvx512;
#endif
  if ((features & avx2) == avx2) return kConvertPathAvx2;
  if ((features & (kCpuSse2 | kCpuSsse3)) == (kCpuSse2 | kCpuSsse3)) return kConvertPathSsse3;
  if ((features & kCpuSse2) != 0) return kConvertPathSse2;
  return kConvertPathScalar;
}

ConvertPath BestConvertPath() {
  const ConvertPath best = ConvertPathFor(DetectCpuFeatures());
#ifdef SPIQLM_CONVERT_PATH_CAP
  // Test builds of the Windows module, never shipped, are held to one path at most, so each
  // path runs inside the DLL itself: there the module reads no environment to force it.
  if (best > SPIQLM_CONVERT_PATH_CAP) return SPIQLM_CONVERT_PATH_CAP;
#endif
  return best;
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
  // On a CPU with every path nothing is refused.
  if (path > BestConvertPath()) return false;  // GCOVR_EXCL_BR_LINE
  chosen_path.store(path, std::memory_order_relaxed);
  return true;
}

void ConvertRow(const unsigned char* source, int32_t width, unsigned char* destination) {
  switch (ChosenConvertPath()) {
#ifdef SPIQLM_AVX512_KERNEL
    case kConvertPathAvx512:
      ConvertRowAvx512(source, width, destination);
      return;
#endif
#ifdef SPIQLM_X86_KERNELS
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

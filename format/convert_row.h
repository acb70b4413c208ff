// Conversion of one row of QLM pixel words into 24-bit blue-green-red pixels.
//
// Every kernel has the same contract: read 2 x width bytes at `source`, write exactly
// 3 x width bytes at `destination`, touch nothing else. Neither pointer needs any alignment.
// ConvertRowScalar is the reference; every other kernel gives its bytes for every input. The
// vector kernels do whole blocks of pixels and hand the rest of the row to a narrower kernel.
//
// ConvertRow runs the widest kernel this CPU supports. It chooses once, on its first call
// (never at load time), from cpuid (and xgetbv, which proves the system saves the AVX and
// AVX-512 registers), and records the choice.
#ifndef SPIQLM_FORMAT_CONVERT_ROW_H
#define SPIQLM_FORMAT_CONVERT_ROW_H

#include <stdint.h>

enum ConvertPath {
  kConvertPathUnchosen = 0,
  kConvertPathScalar,
  kConvertPathSse2,    // 8 pixels a step
  kConvertPathSsse3,   // 16 pixels a step, byte shuffles
  kConvertPathAvx2,    // 32 pixels a step
  kConvertPathAvx512,  // 32 pixels a step, byte permutes across 64 bytes (AVX-512 VBMI)
};

void ConvertRow(const unsigned char* source, int32_t width, unsigned char* destination);

void ConvertRowScalar(const unsigned char* source, int32_t width, unsigned char* destination);
#if defined(__i386__) || defined(__x86_64__)
#define SPIQLM_X86_KERNELS 1
void ConvertRowSse2(const unsigned char* source, int32_t width, unsigned char* destination);
void ConvertRowSsse3(const unsigned char* source, int32_t width, unsigned char* destination);
void ConvertRowAvx2(const unsigned char* source, int32_t width, unsigned char* destination);
#endif
// The AVX-512 kernel is built only where something here can run it: no emulator these machines
// have executes AVX-512 in 32-bit code, so the 32-bit builds stop at AVX2.
#if defined(__x86_64__)
#define SPIQLM_AVX512_KERNEL 1
void ConvertRowAvx512(const unsigned char* source, int32_t width, unsigned char* destination);
#endif

// What this CPU and its system can run, as kCpu... bits (none on other CPUs).
enum CpuFeature : unsigned {
  kCpuSse2 = 1u << 0,
  kCpuSsse3 = 1u << 1,
  kCpuAvx2 = 1u << 2,        // with the system saving the 256-bit registers
  kCpuAvx512Vbmi = 1u << 3,  // AVX-512 F, BW and VBMI, with the system saving the registers
};
unsigned DetectCpuFeatures();
// The widest path a CPU with these features can run, among the kernels built.
ConvertPath ConvertPathFor(unsigned features);

// The path ConvertRow takes (choosing it now if it has not yet), and its name.
ConvertPath ChosenConvertPath();
const char* ConvertPathName(ConvertPath path);
// The widest path this CPU and system can run.
ConvertPath BestConvertPath();

// For tests and benchmarks: makes ConvertRow take `path` from now on. Returns false, changing
// nothing, when this CPU cannot run it. kConvertPathUnchosen goes back to choosing.
bool ForceConvertPath(ConvertPath path);

#endif  // SPIQLM_FORMAT_CONVERT_ROW_H

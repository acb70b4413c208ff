#include "format/qlm_header.h"

#include <atomic>

namespace {

// Relaxed atomics: probes on different threads may overlap, and each export works from the
// pair its own probe handed back, so nothing orders these stores.
std::atomic<int32_t> probed_width{0};
std::atomic<int32_t> probed_height{0};

// One read of the header into a zeroed buffer. A short file is not a QLM image: without this
// check an empty file would probe as a 0 x 0 picture and be claimed by the format query.
bool ReadFileHeader(const char* fileName, unsigned char header[kQlmHeaderLength]) {
  HANDLE file = OpenQlmFile(fileName);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  BOOL read = ReadFile(file, header, kQlmHeaderLength, &got, nullptr);
  CloseHandle(file);
  return read != FALSE && got == static_cast<DWORD>(kQlmHeaderLength);
}

int32_t ReadU16BigEndian(const unsigned char* bytes) {
  return bytes[0] << 8 | bytes[1];
}

}  // namespace

HANDLE OpenQlmFile(const char* fileName) {
  return CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

int32_t ProbeHeader(const char* fileName, const unsigned char* headBytes,
                    QlmDimensions* dimensions) {
  unsigned char header[kQlmHeaderLength] = {0, 0, 0, 0};
  if (headBytes == nullptr) {
    if (!ReadFileHeader(fileName, header)) return 0;
    headBytes = header;
  }
  QlmDimensions parsed = {ReadU16BigEndian(headBytes), ReadU16BigEndian(headBytes + 2)};
  probed_width.store(parsed.width, std::memory_order_relaxed);
  probed_height.store(parsed.height, std::memory_order_relaxed);
  if (dimensions != nullptr) *dimensions = parsed;
  if (parsed.width > kQlmMaxDimension || parsed.height > kQlmMaxDimension) return 0;
  return kQlmHeaderLength;
}

int32_t ProbedWidth() {
  return probed_width.load(std::memory_order_relaxed);
}
int32_t ProbedHeight() {
  return probed_height.load(std::memory_order_relaxed);
}

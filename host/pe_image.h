// The file side of a 32-bit Windows DLL, for the loader (host/pe_loader.h): reading the file,
// checking its headers and finding its data directories. Fields are read by shifting bytes, and
// every offset is checked against the file before it is used.
#ifndef SPIQLM_HOST_PE_IMAGE_H
#define SPIQLM_HOST_PE_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

constexpr uint32_t kPage = 0x1000;

// Little-endian fields of the file or of the mapped image, wherever they sit.
inline uint16_t Get16(const unsigned char* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

inline uint32_t Get32(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

inline void Put32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

struct PeHeaders {
  uint32_t sections;  // file offset of the section table
  uint16_t sectionCount;
  uint32_t imageBase, imageSize, headersSize, sectionAlignment, entry;
  uint32_t directories;  // file offset of the data directories
  uint32_t directoryCount;
};

// Whether `path` names a file starting as a PE image does ("MZ").
bool IsPeFile(const std::string& path);

// The whole file, when it is a regular file of less than 64 MiB.
bool ReadPeFile(const std::string& path, std::vector<unsigned char>* bytes);

// The headers of a 32-bit x86 DLL whose sections start on pages of their own; false with the
// reason in `*error` for anything else.
bool ReadPeHeaders(const std::vector<unsigned char>& file, PeHeaders* headers, std::string* error);

// A data directory's RVA and size, or zeros when the file has none.
void PeDirectory(const std::vector<unsigned char>& file, const PeHeaders& headers, uint32_t index,
                 uint32_t* rva, uint32_t* size);

#endif  // SPIQLM_HOST_PE_IMAGE_H

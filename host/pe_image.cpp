#include "host/pe_image.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

bool IsPeFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char magic[2] = {0, 0};
  bool pe = fread(magic, 1, 2, file) == 2 && magic[0] == 'M' && magic[1] == 'Z';
  fclose(file);
  return pe;
}

bool ReadPeFile(const std::string& path, std::vector<unsigned char>* bytes) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size < (64 << 20);
  if (ok) {
    bytes->resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (ok && done < bytes->size()) {
      ssize_t got = read(fd, bytes->data() + done, bytes->size() - done);
      ok = got > 0;
      if (ok) done += static_cast<size_t>(got);
    }
  }
  close(fd);
  return ok;
}

bool ReadPeHeaders(const std::vector<unsigned char>& file, PeHeaders* headers, std::string* error) {
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
    *error = "not a PE file";
    return false;
  }
  const uint32_t pe = Get32(&file[0x3C]);
  if (pe > file.size() - 24 || memcmp(&file[pe], "PE\0\0", 4) != 0) {
    *error = "no PE signature";
    return false;
  }
  const unsigned char* coff = &file[pe + 4];
  const uint16_t machine = Get16(coff), characteristics = Get16(coff + 18);
  const uint16_t optionalSize = Get16(coff + 16);
  if (machine != 0x14C || (characteristics & 0x2000) == 0) {
    *error = "not a 32-bit x86 DLL";
    return false;
  }
  const uint32_t optional = pe + 24;
  if (optionalSize < 96 || optional + optionalSize > file.size() ||
      Get16(&file[optional]) != 0x10B) {
    *error = "no PE32 optional header";
    return false;
  }
  const unsigned char* o = &file[optional];
  headers->entry = Get32(o + 16);
  headers->imageBase = Get32(o + 28);
  headers->sectionAlignment = Get32(o + 32);
  headers->imageSize = Get32(o + 56);
  headers->headersSize = Get32(o + 60);
  headers->directoryCount = Get32(o + 92);
  headers->directories = optional + 96;
  if (headers->directoryCount > (optionalSize - 96u) / 8u) {
    headers->directoryCount = (optionalSize - 96u) / 8u;
  }
  headers->sectionCount = Get16(coff + 2);
  headers->sections = optional + optionalSize;
  if (headers->sections + 40u * headers->sectionCount > file.size()) {
    *error = "section table past the end of the file";
    return false;
  }
  // Protections are set per section, so sections must start on pages of their own.
  if (headers->sectionAlignment % kPage != 0 || headers->imageSize == 0 ||
      headers->imageSize > (256u << 20) || headers->headersSize > headers->imageSize) {
    *error = "unsupported section alignment or image size";
    return false;
  }
  return true;
}

void PeDirectory(const std::vector<unsigned char>& file, const PeHeaders& headers, uint32_t index,
                 uint32_t* rva, uint32_t* size) {
  *rva = *size = 0;
  if (index >= headers.directoryCount) return;
  *rva = Get32(&file[headers.directories + 8 * index]);
  *size = Get32(&file[headers.directories + 8 * index + 4]);
}

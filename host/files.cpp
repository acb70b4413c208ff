#include "host/files.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

bool ReadWholeFile(const std::string& path, size_t maxBytes, std::vector<unsigned char>* bytes) {
  bytes->clear();
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char chunk[65536];
  bool ok = true;
  while (maxBytes == 0 || bytes->size() < maxBytes) {
    size_t want = sizeof chunk;
    if (maxBytes != 0 && maxBytes - bytes->size() < want) want = maxBytes - bytes->size();
    size_t got = fread(chunk, 1, want, file);
    bytes->insert(bytes->end(), chunk, chunk + got);
    if (got < want) {
      ok = ferror(file) == 0;
      break;
    }
  }
  fclose(file);
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string* why) {
  std::string temporary = path + ".partial-" + std::to_string(getpid());
  FILE* file = fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    *why = strerror(errno);
    return false;
  }
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (fclose(file) != 0) ok = false;
  if (!ok) {
    *why = strerror(errno);
    remove(temporary.c_str());
    return false;
  }
#ifdef _WIN32
  remove(path.c_str());  // rename does not replace on Windows
#endif
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    *why = strerror(errno);
    remove(temporary.c_str());
    return false;
  }
  return true;
}

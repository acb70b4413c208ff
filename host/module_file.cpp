#include "host/module_file.h"

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "host/files.h"

namespace {

struct Kind {
  bool windows;  // a PE file, else ELF
  int bits;
  std::string machine;
};

#if defined(__x86_64__) || defined(_M_X64)
const char kHostMachine[] = "x86-64";
#elif defined(__i386__) || defined(_M_IX86)
const char kHostMachine[] = "x86";
#elif defined(__aarch64__) || defined(_M_ARM64)
const char kHostMachine[] = "ARM64";
#else
const char kHostMachine[] = "this processor";
#endif
const int kHostBits = static_cast<int>(sizeof(void*) * 8);
// Whether this host loads Windows DLLs: on Windows, and on i386 Linux with the PE loader.
#if defined(_WIN32) || defined(SPIQLM_PE_LOADER)
const bool kHostWindows = true;
#else
const bool kHostWindows = false;
#endif

unsigned U16(const std::vector<unsigned char>& bytes, size_t at, bool little) {
  return little ? unsigned(bytes[at]) | unsigned(bytes[at + 1]) << 8
                : unsigned(bytes[at]) << 8 | unsigned(bytes[at + 1]);
}

uint32_t U32(const std::vector<unsigned char>& bytes, size_t at) {
  return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
         uint32_t(bytes[at + 3]) << 24;
}

std::string ElfMachine(unsigned machine) {
  switch (machine) {
    case 3:
      return "x86";
    case 62:
      return "x86-64";
    case 40:
      return "ARM";
    case 183:
      return "ARM64";
    case 243:
      return "RISC-V";
    default:
      return "processor " + std::to_string(machine);
  }
}

bool ReadElf(const std::vector<unsigned char>& bytes, Kind* kind) {
  if (bytes.size() < 20 || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' ||
      bytes[3] != 'F') {
    return false;
  }
  kind->windows = false;
  kind->bits = bytes[4] == 2 ? 64 : 32;
  kind->machine = ElfMachine(U16(bytes, 18, bytes[5] != 2));
  return true;
}

bool ReadPe(const std::vector<unsigned char>& bytes, Kind* kind) {
  if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  uint32_t at = U32(bytes, 60);
  if (at > bytes.size() - 6 || bytes[at] != 'P' || bytes[at + 1] != 'E' || bytes[at + 2] != 0 ||
      bytes[at + 3] != 0) {
    return false;
  }
  kind->windows = true;
  switch (U16(bytes, at + 4, true)) {
    case 0x14C:
      kind->bits = 32, kind->machine = "x86";
      break;
    case 0x8664:
      kind->bits = 64, kind->machine = "x86-64";
      break;
    case 0xAA64:
      kind->bits = 64, kind->machine = "ARM64";
      break;
    case 0x1C4:
      kind->bits = 32, kind->machine = "ARM";
      break;
    default:
      kind->bits = 0, kind->machine = "an unknown processor";
  }
  return true;
}

std::string Described(const Kind& kind) {
  return std::string(kind.windows ? "a Windows DLL" : "an ELF module") + " for " + kind.machine;
}

std::string Opening(const std::vector<unsigned char>& bytes) {
  if (bytes.empty()) return "the file is empty";
  std::string hex = "it starts with";
  for (size_t i = 0; i < bytes.size() && i < 8; ++i) {
    char byte[4];
    snprintf(byte, sizeof byte, " %02x", bytes[i]);
    hex += byte;
  }
  return hex;
}

}  // namespace

std::string WhyNotLoadable(const std::string& path) {
  Input input;
  std::string why;
  std::vector<unsigned char> bytes;
  if (!OpenInput(path, &input, &why)) return "";
  bool read = input.regular && ReadStart(&input, 4096, &bytes, &why);
  CloseInput(&input);
  if (!read) return "";
  Kind kind;
  if (!ReadElf(bytes, &kind) && !ReadPe(bytes, &kind)) {
    return "not a module: neither an ELF nor a PE (Windows DLL) file; " + Opening(bytes);
  }
  // Which system a module is for comes first: a Windows DLL is never loaded by an ELF host,
  // whatever its word size, so naming the size would suggest that another size loads.
  if (kind.windows != kHostWindows) {
    return kind.windows
               ? Described(kind) + " cannot be loaded by this host, which loads ELF modules (" +
                     (kind.bits != 0 ? "the " + std::to_string(kind.bits) + "-bit spihost.exe"
                                     : "spihost.exe") +
                     " on Windows loads it)"
               : Described(kind) +
                     " cannot be loaded by this host, which loads Windows "
                     "DLLs";
  }
  if (kind.bits != 0 && kind.bits != kHostBits) {
    return "a " + std::to_string(kind.bits) + "-bit module cannot be loaded by this " +
           std::to_string(kHostBits) + "-bit host (" + Described(kind) + "; this spihost is for " +
           kHostMachine + ")";
  }
  if (kind.machine != kHostMachine) {
    return Described(kind) + " cannot be loaded by this host for " + kHostMachine;
  }
  return "";
}

#include "host/pe_loader.h"

#include <string.h>
#include <strings.h>
#include <sys/mman.h>

#include <vector>

#include "host/pe_call.h"
#include "host/pe_image.h"
#include "winapi/winapi.h"
#include "winapi/winapi_testing.h"

struct PeModule {
  unsigned char* base;
  uint32_t size;  // of the mapping: the image rounded up to whole pages
  uint32_t preferred;
  uint32_t entry;  // RVA, 0 for none
  uint32_t exportRva, exportSize;
  uint32_t stackOffset;
  std::string name;  // the file name without folders, for messages
};

namespace {

constexpr uint32_t kDllProcessDetach = 0;
constexpr uint32_t kDllProcessAttach = 1;

template <typename Fn>
uint32_t FunctionWord(Fn* function) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(function));
}

// What the DLL may import, and what each name is bound to. KERNEL32's functions are the
// stand-in's, stdcall as on Windows; msvcrt's are cdecl on both sides.
struct Binding {
  const char* dll;
  const char* name;
  uint32_t address;
};

std::vector<Binding> Bindings() {
  return {
      {"kernel32.dll", "CreateFileA", FunctionWord(&CreateFileA)},
      {"kernel32.dll", "ReadFile", FunctionWord(&ReadFile)},
      {"kernel32.dll", "SetFilePointer", FunctionWord(&SetFilePointer)},
      {"kernel32.dll", "CloseHandle", FunctionWord(&CloseHandle)},
      {"kernel32.dll", "LocalAlloc", FunctionWord(&LocalAlloc)},
      {"kernel32.dll", "LocalLock", FunctionWord(&LocalLock)},
      {"kernel32.dll", "LocalUnlock", FunctionWord(&LocalUnlock)},
      {"kernel32.dll", "LocalSize", FunctionWord(&LocalSize)},
      {"kernel32.dll", "LocalFree", FunctionWord(&LocalFree)},
      {"msvcrt.dll", "malloc", FunctionWord(&__wrap_malloc)},
      {"msvcrt.dll", "free", FunctionWord(&__wrap_free)},
      {"msvcrt.dll", "memcpy", FunctionWord(&memcpy)},
      {"msvcrt.dll", "memset", FunctionWord(&memset)},
      {"msvcrt.dll", "strncpy", FunctionWord(&strncpy)},
  };
}

// The image's bytes at `rva`, when `length` of them lie inside it.
unsigned char* At(const PeModule* module, uint32_t rva, uint32_t length) {
  if (rva > module->size || length > module->size - rva) return nullptr;
  return module->base + rva;
}

// A NUL-terminated string inside the image.
const char* StringAt(const PeModule* module, uint32_t rva) {
  unsigned char* at = At(module, rva, 1);
  if (at == nullptr) return nullptr;
  return memchr(at, 0, module->size - rva) != nullptr ? reinterpret_cast<const char*>(at) : nullptr;
}

// Reserves the image's pages anywhere but at the preferred base, so that the relocations are
// exercised on every load.
unsigned char* MapImage(uint32_t size, uint32_t preferred) {
  void* first = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (first == MAP_FAILED) return nullptr;
  if (PeWord(first) != preferred) return static_cast<unsigned char*>(first);
  void* second = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  munmap(first, size);
  return second == MAP_FAILED ? nullptr : static_cast<unsigned char*>(second);
}

bool CopySections(PeModule* module, const std::vector<unsigned char>& file,
                  const PeHeaders& headers, std::string* error) {
  memcpy(module->base, file.data(),
         headers.headersSize < file.size() ? headers.headersSize : file.size());
  for (uint16_t i = 0; i < headers.sectionCount; ++i) {
    const unsigned char* section = &file[headers.sections + 40u * i];
    const uint32_t virtualSize = Get32(section + 8), rva = Get32(section + 12);
    uint32_t rawSize = Get32(section + 16);
    const uint32_t rawOffset = Get32(section + 20);
    if (virtualSize != 0 && rawSize > virtualSize) rawSize = virtualSize;
    unsigned char* target = At(module, rva, rawSize > virtualSize ? rawSize : virtualSize);
    if (target == nullptr || rawOffset > file.size() || rawSize > file.size() - rawOffset) {
      *error = "section " + std::to_string(i) + " lies outside the image or the file";
      return false;
    }
    if (rawSize != 0) memcpy(target, &file[rawOffset], rawSize);
  }
  return true;
}

bool Relocate(PeModule* module, uint32_t rva, uint32_t size, std::string* error) {
  const uint32_t delta = PeWord(module->base) - module->preferred;
  const unsigned char* block = At(module, rva, size);
  if (block == nullptr) {
    *error = "relocations outside the image";
    return false;
  }
  const unsigned char* end = block + size;
  while (end - block >= 8) {
    const uint32_t page = Get32(block), blockSize = Get32(block + 4);
    if (blockSize < 8 || blockSize > static_cast<uint32_t>(end - block)) {
      *error = "malformed relocation block";
      return false;
    }
    for (uint32_t at = 8; at + 2 <= blockSize; at += 2) {
      const uint16_t entry = Get16(block + at);
      const unsigned type = entry >> 12;
      if (type == 0) continue;  // padding
      unsigned char* field = At(module, page + (entry & 0xFFFu), 4);
      if (type != 3 || field == nullptr) {  // 3: a 32-bit address
        *error = "unsupported relocation of type " + std::to_string(type);
        return false;
      }
      Put32(field, Get32(field) + delta);
    }
    block += blockSize;
  }
  return true;
}

bool BindImports(PeModule* module, uint32_t rva, uint32_t size, std::string* error) {
  if (size == 0) return true;
  const std::vector<Binding> bindings = Bindings();
  for (uint32_t descriptor = rva;; descriptor += 20) {
    const unsigned char* d = At(module, descriptor, 20);
    if (d == nullptr) {
      *error = "import table outside the image";
      return false;
    }
    const uint32_t lookup = Get32(d), nameRva = Get32(d + 12), slots = Get32(d + 16);
    if (nameRva == 0 && slots == 0) return true;
    const char* dll = StringAt(module, nameRva);
    if (dll == nullptr) {
      *error = "import without a DLL name";
      return false;
    }
    for (uint32_t i = 0;; ++i) {
      unsigned char* slot = At(module, slots + 4 * i, 4);
      const unsigned char* entry = At(module, (lookup != 0 ? lookup : slots) + 4 * i, 4);
      if (slot == nullptr || entry == nullptr) {
        *error = std::string("import table of ") + dll + " outside the image";
        return false;
      }
      const uint32_t value = Get32(entry);
      if (value == 0) break;
      if ((value & 0x80000000u) != 0) {
        *error = std::string("unprovided import ") + dll + "!#" + std::to_string(value & 0xFFFF);
        return false;
      }
      const char* name = StringAt(module, value + 2);  // after the hint
      if (name == nullptr) {
        *error = std::string("import of ") + dll + " without a name";
        return false;
      }
      uint32_t address = 0;
      for (const Binding& binding : bindings) {
        if (strcasecmp(binding.dll, dll) == 0 && strcmp(binding.name, name) == 0) {
          address = binding.address;
        }
      }
      if (address == 0) {
        *error = std::string("unprovided import ") + dll + "!" + name;
        return false;
      }
      Put32(slot, address);
    }
  }
}

bool Protect(PeModule* module, const std::vector<unsigned char>& file, const PeHeaders& headers,
             std::string* error) {
  if (mprotect(module->base, module->size, PROT_READ) != 0) {
    *error = "cannot protect the image";
    return false;
  }
  for (uint16_t i = 0; i < headers.sectionCount; ++i) {
    const unsigned char* section = &file[headers.sections + 40u * i];
    const uint32_t virtualSize = Get32(section + 8), rva = Get32(section + 12);
    const uint32_t rawSize = Get32(section + 16), flags = Get32(section + 36);
    const uint32_t length = (virtualSize > rawSize ? virtualSize : rawSize) + kPage - 1;
    const bool write = (flags & 0x80000000u) != 0, execute = (flags & 0x20000000u) != 0;
    if (write && execute) {
      *error = "section " + std::to_string(i) + " is both writable and executable";
      return false;
    }
    const int protection = ((flags & 0x40000000u) != 0 ? PROT_READ : 0) | (write ? PROT_WRITE : 0) |
                           (execute ? PROT_EXEC : 0);
    if (rva % kPage != 0 || At(module, rva, length / kPage * kPage) == nullptr ||
        mprotect(module->base + rva, length / kPage * kPage, protection) != 0) {
      *error = "cannot protect section " + std::to_string(i);
      return false;
    }
  }
  return true;
}

uint32_t CallEntry(const PeModule* module, uint32_t reason) {
  const uint32_t args[3] = {PeWord(module->base), reason, 0};
  return PeCall(module, PeWord(module->base) + module->entry, "the entry point", args, 3);
}

}  // namespace

PeModule* LoadPeModule(const std::string& path, uint32_t stackOffset, std::string* error) {
  std::vector<unsigned char> file;
  if (!ReadPeFile(path, &file)) {
    *error = "cannot read " + path;
    return nullptr;
  }
  PeHeaders headers;
  if (!ReadPeHeaders(file, &headers, error)) return nullptr;
  PeModule* module = new PeModule;
  module->size = (headers.imageSize + kPage - 1) / kPage * kPage;
  module->preferred = headers.imageBase;
  module->entry = headers.entry;
  module->stackOffset = stackOffset;
  module->name = path.substr(path.find_last_of('/') + 1);
  PeDirectory(file, headers, 0, &module->exportRva, &module->exportSize);
  uint32_t importRva, importSize, relocRva, relocSize;
  PeDirectory(file, headers, 1, &importRva, &importSize);
  PeDirectory(file, headers, 5, &relocRva, &relocSize);
  module->base = MapImage(module->size, module->preferred);
  if (module->base == nullptr) {
    *error = "cannot map the image";
    delete module;
    return nullptr;
  }
  bool ok = CopySections(module, file, headers, error);
  if (ok && PeWord(module->base) != module->preferred) {
    if (relocSize == 0) {
      *error = "the image has no relocations and cannot be moved";
      ok = false;
    } else {
      ok = Relocate(module, relocRva, relocSize, error);
    }
  }
  ok = ok && BindImports(module, importRva, importSize, error) &&
       Protect(module, file, headers, error);
  if (ok && module->entry != 0 && CallEntry(module, kDllProcessAttach) != TRUE) {
    *error = "the entry point refused DLL_PROCESS_ATTACH";
    ok = false;
  }
  if (!ok) {
    munmap(module->base, module->size);
    delete module;
    return nullptr;
  }
  return module;
}

void UnloadPeModule(PeModule* module) {
  if (module->entry != 0) CallEntry(module, kDllProcessDetach);
  munmap(module->base, module->size);
  delete module;
}

uint32_t PeExportByOrdinal(const PeModule* module, uint32_t ordinal) {
  const unsigned char* directory = At(module, module->exportRva, 40);
  if (module->exportSize == 0 || directory == nullptr) return 0;
  const uint32_t base = Get32(directory + 16), count = Get32(directory + 20);
  if (ordinal < base || ordinal - base >= count) return 0;
  const unsigned char* slot = At(module, Get32(directory + 28) + 4 * (ordinal - base), 4);
  const uint32_t rva = slot != nullptr ? Get32(slot) : 0;
  // An address inside the export directory is the name of another DLL's export.
  const bool forwarded = rva >= module->exportRva && rva - module->exportRva < module->exportSize;
  if (rva == 0 || forwarded || At(module, rva, 1) == nullptr) return 0;
  return PeWord(module->base) + rva;
}

uint32_t PeExportByName(const PeModule* module, const char* name) {
  const unsigned char* directory = At(module, module->exportRva, 40);
  if (module->exportSize == 0 || directory == nullptr) return 0;
  const uint32_t base = Get32(directory + 16), names = Get32(directory + 24);
  for (uint32_t i = 0; i < names; ++i) {
    const unsigned char* nameSlot = At(module, Get32(directory + 32) + 4 * i, 4);
    const unsigned char* ordinalSlot = At(module, Get32(directory + 36) + 2 * i, 2);
    if (nameSlot == nullptr || ordinalSlot == nullptr) return 0;
    const char* exported = StringAt(module, Get32(nameSlot));
    if (exported != nullptr && strcmp(exported, name) == 0) {
      return PeExportByOrdinal(module, base + Get16(ordinalSlot));
    }
  }
  return 0;
}

uint32_t PeLoadBase(const PeModule* module) {
  return PeWord(module->base);
}

uint32_t PePreferredBase(const PeModule* module) {
  return module->preferred;
}

uint32_t PeImageSize(const PeModule* module) {
  return module->size;
}

uint32_t PeCall(const PeModule* module, uint32_t target, const char* what, const uint32_t* args,
                uint32_t count) {
  return PeCheckedCallOrAbort(module->name.c_str(), module->stackOffset, target, what, args, count);
}

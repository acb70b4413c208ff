#include "host/pe_plugin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host/pe_call.h"
#include "host/pe_loader.h"
#include "winapi/winapi_testing.h"

namespace {

enum Export { kGetPicture, kGetPreview, kGetPictureInfo, kGetPluginInfo, kIsSupported, kExports };

const char* const kExportNames[kExports] = {"GetPicture", "GetPreview", "GetPictureInfo",
                                            "GetPluginInfo", "IsSupported"};

PeModule* loaded;
uint32_t targets[kExports];

int Call(Export which, const uint32_t* args, uint32_t count) {
  return static_cast<int>(PeCall(loaded, targets[which], kExportNames[which], args, count));
}

// GetPicture and GetPreview take the same seven arguments.
int CallPictureExport(Export which, char* source, long length, unsigned int flags, HLOCAL* info,
                      HLOCAL* pixels, ProgressCallback progress, long lData) {
  const uint32_t args[7] = {PeWord(source),
                            static_cast<uint32_t>(length),
                            flags,
                            PeWord(info),
                            PeWord(pixels),
                            PeWord(reinterpret_cast<void*>(progress)),
                            static_cast<uint32_t>(lData)};
  return Call(which, args, 7);
}

int WINAPI CheckedGetPicture(char* source, long length, unsigned int flags, HLOCAL* info,
                             HLOCAL* pixels, ProgressCallback progress, long lData) {
  return CallPictureExport(kGetPicture, source, length, flags, info, pixels, progress, lData);
}

int WINAPI CheckedGetPreview(char* source, long length, unsigned int flags, HLOCAL* info,
                             HLOCAL* pixels, ProgressCallback progress, long lData) {
  return CallPictureExport(kGetPreview, source, length, flags, info, pixels, progress, lData);
}

int WINAPI CheckedGetPictureInfo(char* source, long length, unsigned int flags, PictureInfo* info) {
  const uint32_t args[4] = {PeWord(source), static_cast<uint32_t>(length), flags, PeWord(info)};
  return Call(kGetPictureInfo, args, 4);
}

int WINAPI CheckedGetPluginInfo(int infoNo, char* buffer, int bufferLength) {
  const uint32_t args[3] = {static_cast<uint32_t>(infoNo), PeWord(buffer),
                            static_cast<uint32_t>(bufferLength)};
  return Call(kGetPluginInfo, args, 3);
}

int WINAPI CheckedIsSupported(char* fileName, uintptr_t handleOrHead) {
  const uint32_t args[2] = {PeWord(fileName), static_cast<uint32_t>(handleOrHead)};
  return Call(kIsSupported, args, 2);
}

bool StackOffset(uint32_t* offset, std::string* error) {
  const char* text = getenv("SPIQLM_PE_STACK_OFFSET");
  *offset = 0;
  if (text == nullptr || *text == '\0') return true;
  const char* const choices[] = {"0", "4", "8", "12"};
  for (uint32_t i = 0; i < 4; ++i) {
    if (strcmp(text, choices[i]) == 0) {
      *offset = 4 * i;
      return true;
    }
  }
  *error = std::string("SPIQLM_PE_STACK_OFFSET is ") + text + ", not 0, 4, 8 or 12";
  return false;
}

}  // namespace

bool LoadPePlugin(const std::string& path, Lookup lookup, SpiPlugin* plugin, std::string* error) {
  *plugin = SpiPlugin{};
  uint32_t offset;
  if (!StackOffset(&offset, error)) return false;
  if (loaded != nullptr) {
    *error = "cannot load plug-in " + path + ": a 32-bit DLL is loaded already";
    return false;
  }
  // The DLL runs here only to be tested: its blocks and mallocs end at inaccessible pages.
  WinSetGuardPages(1);
  PeModule* module = LoadPeModule(path, offset, error);
  if (module == nullptr) {
    *error = "cannot load plug-in " + path + ": " + *error;
    return false;
  }
  for (int i = 0; i < kExports; ++i) {
    targets[i] = lookup == Lookup::kByName
                     ? PeExportByName(module, kExportNames[i])
                     : PeExportByOrdinal(module, static_cast<uint32_t>(i + 1));
    if (targets[i] == 0) {
      *error = path + ": the module has no export " + kExportNames[i];
      UnloadPeModule(module);
      return false;
    }
  }
  // For tests that read an emulator's log of the DLL's instructions.
  if (getenv("SPIQLM_PE_REPORT") != nullptr) {
    fprintf(stderr, "%s mapped at 0x%08X (preferred 0x%08X), 0x%X bytes\n", path.c_str(),
            PeLoadBase(module), PePreferredBase(module), PeImageSize(module));
  }
  loaded = module;
  plugin->module = module;
  plugin->GetPicture = CheckedGetPicture;
  plugin->GetPreview = CheckedGetPreview;
  plugin->GetPictureInfo = CheckedGetPictureInfo;
  plugin->GetPluginInfo = CheckedGetPluginInfo;
  plugin->IsSupported = CheckedIsSupported;
  // The DLL's KERNEL32 is the stand-in this program links, so the host shares its blocks.
  plugin->LocalLock = ::LocalLock;
  plugin->LocalUnlock = ::LocalUnlock;
  plugin->LocalSize = ::LocalSize;
  plugin->LocalFree = ::LocalFree;
  return true;
}

bool UnloadPePlugin(SpiPlugin* plugin) {
  if (loaded == nullptr || plugin->module != loaded) return false;
  UnloadPeModule(loaded);
  loaded = nullptr;
  *plugin = SpiPlugin{};
  return true;
}

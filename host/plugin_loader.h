// Loads an import-filter plug-in at run time, the way an image viewer does, and resolves its
// five exports and the local-memory calls a host needs to take over the blocks it returns.
#ifndef SPIQLM_HOST_PLUGIN_LOADER_H
#define SPIQLM_HOST_PLUGIN_LOADER_H

#include <string>

#include "plugin/spi_exports.h"

typedef int(WINAPI* GetPictureFn)(char*, long, unsigned int, HLOCAL*, HLOCAL*, ProgressCallback,
                                  long);
typedef int(WINAPI* GetPictureInfoFn)(char*, long, unsigned int, PictureInfo*);
typedef int(WINAPI* GetPluginInfoFn)(int, char*, int);
typedef int(WINAPI* IsSupportedFn)(char*, uintptr_t);
typedef LPVOID(WINAPI* LocalLockFn)(HLOCAL);
typedef BOOL(WINAPI* LocalUnlockFn)(HLOCAL);
typedef SIZE_T(WINAPI* LocalSizeFn)(HLOCAL);
typedef HLOCAL(WINAPI* LocalFreeFn)(HLOCAL);

struct SpiPlugin {
  void* module;
  GetPictureFn GetPicture;
  GetPictureFn GetPreview;
  GetPictureInfoFn GetPictureInfo;
  GetPluginInfoFn GetPluginInfo;
  IsSupportedFn IsSupported;
  // The host's side of the blocks: the kernel's on Windows, the stand-in's (found through the
  // module, which links it) elsewhere.
  LocalLockFn LocalLock;
  LocalUnlockFn LocalUnlock;
  LocalSizeFn LocalSize;
  LocalFreeFn LocalFree;
};

enum class Lookup { kByName, kByOrdinal };

// Loads `path` and resolves everything above; on failure says why in `*error`, loads nothing
// and returns false. On Windows `path` is UTF-8 (or, when it is not, in the system code page).
// Ordinals are a Windows notion: Windows and the 32-bit DLL on i386 Linux (host/pe_plugin.h)
// have them; for a shared object kByOrdinal fails.
bool LoadPlugin(const std::string& path, Lookup lookup, SpiPlugin* plugin, std::string* error);
void UnloadPlugin(SpiPlugin* plugin);

#endif  // SPIQLM_HOST_PLUGIN_LOADER_H

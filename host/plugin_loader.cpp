#include "host/plugin_loader.h"

#ifdef SPIQLM_PE_LOADER
#include "host/pe_loader.h"
#include "host/pe_no_dl.h"
#include "host/pe_plugin.h"
#elif !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
const char kModuleFileName[] = "spiQLM.spi";

void* Resolve(void* module, const char* name, int ordinal, Lookup lookup) {
  HMODULE handle = static_cast<HMODULE>(module);
  FARPROC address = lookup == Lookup::kByName ? GetProcAddress(handle, name)
                                              : GetProcAddress(handle, MAKEINTRESOURCEA(ordinal));
  return reinterpret_cast<void*>(address);
}
#else
const char kModuleFileName[] = "spiQLM.so";

void* Resolve(void* module, const char* name, int /*ordinal*/, Lookup lookup) {
  return lookup == Lookup::kByName ? dlsym(module, name) : nullptr;
}
#endif

template <typename Fn>
bool Bind(void* module, const char* name, int ordinal, Lookup lookup, Fn* out, std::string* error) {
  void* address = Resolve(module, name, ordinal, lookup);
  if (address == nullptr) {
    *error = std::string("the module has no export ") + name;
    return false;
  }
  *out = reinterpret_cast<Fn>(address);
  return true;
}

bool BindLocalMemory(void* module, SpiPlugin* plugin, std::string* error) {
#ifdef _WIN32
  (void)module;
  (void)error;
  plugin->LocalLock = ::LocalLock;
  plugin->LocalUnlock = ::LocalUnlock;
  plugin->LocalSize = ::LocalSize;
  plugin->LocalFree = ::LocalFree;
  return true;
#else
  return Bind(module, "LocalLock", 0, Lookup::kByName, &plugin->LocalLock, error) &&
         Bind(module, "LocalUnlock", 0, Lookup::kByName, &plugin->LocalUnlock, error) &&
         Bind(module, "LocalSize", 0, Lookup::kByName, &plugin->LocalSize, error) &&
         Bind(module, "LocalFree", 0, Lookup::kByName, &plugin->LocalFree, error);
#endif
}

}  // namespace

bool LoadPlugin(const std::string& path, Lookup lookup, SpiPlugin* plugin, std::string* error) {
#ifdef SPIQLM_PE_LOADER
  if (IsPeFile(path)) return LoadPePlugin(path, lookup, plugin, error);
#endif
  *plugin = SpiPlugin{};
#ifdef _WIN32
  plugin->module = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (plugin->module == nullptr) {
    *error = "cannot load plug-in " + path;
    return false;
  }
#else
  plugin->module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin->module == nullptr) {
    const char* why = dlerror();
    *error = "cannot load plug-in " + path + (why != nullptr ? std::string(": ") + why : "");
    return false;
  }
#endif
  bool bound = Bind(plugin->module, "GetPicture", 1, lookup, &plugin->GetPicture, error) &&
               Bind(plugin->module, "GetPreview", 2, lookup, &plugin->GetPreview, error) &&
               Bind(plugin->module, "GetPictureInfo", 3, lookup, &plugin->GetPictureInfo, error) &&
               Bind(plugin->module, "GetPluginInfo", 4, lookup, &plugin->GetPluginInfo, error) &&
               Bind(plugin->module, "IsSupported", 5, lookup, &plugin->IsSupported, error) &&
               BindLocalMemory(plugin->module, plugin, error);
  if (!bound) {
    *error = path + ": " + *error;
    UnloadPlugin(plugin);
  }
  return bound;
}

void UnloadPlugin(SpiPlugin* plugin) {
#ifdef SPIQLM_PE_LOADER
  if (UnloadPePlugin(plugin)) return;
#endif
  if (plugin->module != nullptr) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(plugin->module));
#else
    dlclose(plugin->module);
#endif
  }
  *plugin = SpiPlugin{};
}

std::string DefaultPluginPath(const char* argv0) {
  std::string program = argv0 != nullptr ? argv0 : "";
  size_t slash = program.find_last_of("/\\");
  return slash == std::string::npos ? std::string(kModuleFileName)
                                    : program.substr(0, slash + 1) + kModuleFileName;
}

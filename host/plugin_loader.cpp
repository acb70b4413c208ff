#include "host/plugin_loader.h"

#ifdef SPIQLM_PE_LOADER
#include "host/pe_image.h"
#include "host/pe_no_dl.h"
#include "host/pe_plugin.h"
#elif defined(_WIN32)
#include "host/windows_text.h"
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
// The module by its full name, wide, so a name in any language loads; the system's text when
// it does not.
void* OpenModule(const std::string& path, std::string* why) {
  int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
  if (length <= 0 ||
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, &wide[0], length) <= 0) {
    // Not UTF-8: a name in the system code page, as the tests pass them.
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) *why = SystemError(GetLastError());
    return reinterpret_cast<void*>(module);
  }
  HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) *why = SystemError(GetLastError());
  // Some of the system's texts name the file as "%1".
  size_t insert = why->find("%1");
  if (insert != std::string::npos) why->replace(insert, 2, path);
  return reinterpret_cast<void*>(module);
}

void CloseModule(void* module) {
  FreeLibrary(static_cast<HMODULE>(module));
}

void* Resolve(void* module, const char* name, int ordinal, Lookup lookup) {
  HMODULE handle = static_cast<HMODULE>(module);
  FARPROC address = lookup == Lookup::kByName ? GetProcAddress(handle, name)
                                              : GetProcAddress(handle, MAKEINTRESOURCEA(ordinal));
  return reinterpret_cast<void*>(address);
}
#else
void* OpenModule(const std::string& path, std::string* why) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* text = dlerror();
    *why = text != nullptr ? text : "";
  }
  return module;
}

void CloseModule(void* module) {
  dlclose(module);
}

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
  error->clear();
  plugin->module = OpenModule(path, error);
  if (plugin->module == nullptr) {
    *error = "cannot load plug-in " + path + (error->empty() ? "" : ": " + *error);
    return false;
  }
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
  if (plugin->module != nullptr) CloseModule(plugin->module);
  *plugin = SpiPlugin{};
}

#include "host/program_location.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <stdlib.h>
#endif

#include "host/files.h"

#ifndef SPIQLM_PLUGIN_DIR_FROM_BIN
#define SPIQLM_PLUGIN_DIR_FROM_BIN "../lib/spiqlm"
#endif
#ifndef SPIQLM_DATA_DIR_FROM_BIN
#define SPIQLM_DATA_DIR_FROM_BIN "../share/spiqlm"
#endif

namespace {

// A host with the PE loader (i386 Linux) runs the Windows DLL itself.
#if defined(_WIN32) || defined(SPIQLM_PE_LOADER)
const char kModuleFileName[] = "spiQLM.spi";
#else
const char kModuleFileName[] = "spiQLM.so";
#endif
#ifdef _WIN32
const char kSeparator = '\\';
#else
const char kSeparator = '/';
#endif
const char kSampleFileName[] = "logo.qlm";

bool Exists(const std::string& path) {
  FileId id;
  return IdentifyPath(path, &id);
}

// The full path, without ".." and, where the system has them, symbolic links.
std::string Tidied(const std::string& path) {
#ifdef _WIN32
  std::wstring tidy(32768, L'\0');
  DWORD length =
      GetFullPathNameW(Widen(path).c_str(), static_cast<DWORD>(tidy.size()), &tidy[0], nullptr);
  if (length == 0 || length >= tidy.size()) return path;
  tidy.resize(length);
  return Narrow(tidy);
#else
  char* resolved = realpath(path.c_str(), nullptr);
  std::string tidy = resolved != nullptr ? resolved : path;
  free(resolved);
  return tidy;
#endif
}

// The first of `candidates` that exists, else the first, so a message names where it looked.
std::string FirstExisting(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    if (Exists(path)) return Tidied(path);
  }
  return candidates.front();
}

}  // namespace

std::string ProgramFolder() {
#ifdef _WIN32
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(length);
  std::string program = Narrow(path);
#else
  char* resolved = realpath("/proc/self/exe", nullptr);
  std::string program = resolved != nullptr ? resolved : "";
  free(resolved);
#endif
  size_t slash = program.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

std::string DefaultPluginPath() {
  std::string folder = ProgramFolder();
  return FirstExisting({folder + kModuleFileName,
                        folder + SPIQLM_PLUGIN_DIR_FROM_BIN + kSeparator + kModuleFileName});
}

std::string DefaultSamplePath() {
  std::string folder = ProgramFolder();
  return FirstExisting(
      {folder + SPIQLM_DATA_DIR_FROM_BIN + kSeparator + kSampleFileName, folder + kSampleFileName});
}

std::string PluginPathFor(const std::string& name, std::string* why) {
  if (name.find_first_of("/\\") != std::string::npos) return Exists(name) ? Tidied(name) : name;
  std::string here = std::string(".") + kSeparator + name;
  if (Exists(here)) return Tidied(here);
  std::string module = DefaultPluginPath();
  std::string folder = module.substr(0, module.find_last_of("/\\") + 1);
  if (Exists(folder + name)) return Tidied(folder + name);
  *why = "no such file in the current folder or in " + folder;
  return "";
}

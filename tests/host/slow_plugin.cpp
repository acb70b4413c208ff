// The real plug-in, slowed down for the host's tests: each progress call of a decode first
// waits, so a signal sent during a decode lands inside it. It forwards every export to the
// spiQLM.so beside it.
//
//   SPIQLM_SLOW_MARK  a file it writes once the decode is under way ("PID"), and again when
//                     GetPicture returns ("PID RESULT"), so a test knows where to signal and
//                     sees the plug-in's own answer
//   SPIQLM_SLOW_MS    the wait for each row, in milliseconds (default 20)
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "plugin/spi_exports.h"

namespace {

template <typename Fn>
Fn Real(const char* name) {
  static void* module = nullptr;
  if (module == nullptr) {
    Dl_info self;
    dladdr(reinterpret_cast<void*>(&Real<Fn>), &self);
    std::string path = self.dli_fname;
    path = path.substr(0, path.find_last_of('/') + 1) + "spiQLM.so";
    module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) abort();
  }
  return reinterpret_cast<Fn>(dlsym(module, name));
}

ProgressCallback host_progress;
bool marked;

void Mark(const std::string& text) {
  const char* path = getenv("SPIQLM_SLOW_MARK");
  if (path == nullptr) return;
  std::string temporary = std::string(path) + ".new";
  FILE* file = fopen(temporary.c_str(), "w");
  if (file == nullptr) return;
  fprintf(file, "%s", text.c_str());
  fclose(file);
  rename(temporary.c_str(), path);  // a reader never sees half of it
}

int WINAPI SlowProgress(int numerator, int denominator, long lData) {
  int answer = host_progress != nullptr ? host_progress(numerator, denominator, lData) : 0;
  // Marked once the host has had a row, so its progress bar is on the screen.
  if (!marked) {
    marked = true;
    Mark(std::to_string(getpid()));
  }
  const char* wait = getenv("SPIQLM_SLOW_MS");
  usleep(static_cast<useconds_t>((wait != nullptr ? atoi(wait) : 20) * 1000));
  return answer;
}

}  // namespace

extern "C" {

SPI_EXPORT int WINAPI GetPicture(char* source, long length, unsigned int flags,
                                 HLOCAL* infoHandleOut, HLOCAL* pixelHandleOut,
                                 ProgressCallback progress, long lData) {
  host_progress = progress;
  marked = false;
  auto real = Real<decltype(&GetPicture)>("GetPicture");
  int result = real(source, length, flags, infoHandleOut, pixelHandleOut, SlowProgress, lData);
  Mark(std::to_string(getpid()) + " " + std::to_string(result));
  return result;
}

SPI_EXPORT int WINAPI GetPreview(char* source, long length, unsigned int flags,
                                 HLOCAL* infoHandleOut, HLOCAL* pixelHandleOut,
                                 ProgressCallback progress, long lData) {
  return Real<decltype(&GetPreview)>("GetPreview")(source, length, flags, infoHandleOut,
                                                   pixelHandleOut, progress, lData);
}

SPI_EXPORT int WINAPI GetPictureInfo(char* source, long length, unsigned int flags,
                                     PictureInfo* info) {
  return Real<decltype(&GetPictureInfo)>("GetPictureInfo")(source, length, flags, info);
}

SPI_EXPORT int WINAPI GetPluginInfo(int infoNo, char* buffer, int bufferLength) {
  return Real<decltype(&GetPluginInfo)>("GetPluginInfo")(infoNo, buffer, bufferLength);
}

SPI_EXPORT int WINAPI IsSupported(char* fileName, uintptr_t handleOrHead) {
  return Real<decltype(&IsSupported)>("IsSupported")(fileName, handleOrHead);
}

}  // extern "C"

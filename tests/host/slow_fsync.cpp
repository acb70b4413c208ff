// Preloaded into spihost by its tests: fsync first writes "PID" to the file named by
// SPIQLM_SLOW_FSYNC_MARK and then waits SPIQLM_SLOW_FSYNC_SECONDS (default 10), so a signal
// sent then lands while the temporary output is written but not yet renamed into place.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

extern "C" __attribute__((visibility("default"))) int fsync(int fd) {
  if (const char* mark = getenv("SPIQLM_SLOW_FSYNC_MARK")) {
    std::string temporary = std::string(mark) + ".new";
    if (FILE* file = fopen(temporary.c_str(), "w")) {
      fprintf(file, "%d", static_cast<int>(getpid()));
      fclose(file);
      rename(temporary.c_str(), mark);
    }
    const char* seconds = getenv("SPIQLM_SLOW_FSYNC_SECONDS");
    sleep(static_cast<unsigned>(seconds != nullptr ? atoi(seconds) : 10));
  }
  auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  return real(fd);
}

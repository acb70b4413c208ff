// Replays fuzz inputs without libFuzzer, so seeds and the inputs of past faults run as ordinary
// tests in every build.
//
//   fuzz_replay FILE|FOLDER...
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Replay(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(file);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());  // aborts on a broken invariant
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0, unreadable = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::string> paths;
    struct stat status;
    if (stat(argv[i], &status) == 0 && S_ISDIR(status.st_mode)) {
      if (DIR* folder = opendir(argv[i])) {
        while (dirent* entry = readdir(folder)) {
          if (entry->d_name[0] != '.') paths.push_back(std::string(argv[i]) + "/" + entry->d_name);
        }
        closedir(folder);
      }
    } else {
      paths.push_back(argv[i]);
    }
    for (const std::string& path : paths) {
      if (Replay(path)) {
        ++replayed;
      } else {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        ++unreadable;
      }
    }
  }
  printf("%d passed, %d failed\n", replayed, unreadable);
  return unreadable == 0 && replayed > 0 ? 0 : 1;
}

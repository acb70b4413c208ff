#include "host/files.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileId IdOf(const struct stat& status) {
  FileId id;
  id.volume = static_cast<uint64_t>(status.st_dev);
  id.index = static_cast<uint64_t>(status.st_ino);
  id.known = true;
  id.stream = S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
  return id;
}

int Descriptor(const Input& input) {
  return static_cast<int>(input.handle);
}

}  // namespace

bool OpenInput(const std::string& name, Input* input, std::string* why) {
  *input = Input{};
  input->name = name;
  int fd = 0;
  if (name != "-") {
    do {
      fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *why = LastSystemError();
      return false;
    }
  }
  struct stat status;
  bool usable = fstat(fd, &status) == 0;
  if (usable && S_ISDIR(status.st_mode)) {
    usable = false;
    errno = EISDIR;
  }
  if (!usable) {
    *why = LastSystemError();
    if (fd != 0) close(fd);
    return false;
  }
  input->handle = fd;
  input->id = IdOf(status);
  // Standard input is read from where it stands, to its end, as every filter does.
  input->regular = S_ISREG(status.st_mode) && name != "-";
  input->size = input->regular ? static_cast<uint64_t>(status.st_size) : 0;
  return true;
}

void CloseInput(Input* input) {
  if (input->handle > 0) close(Descriptor(*input));
  input->handle = -1;
}

bool RewindInput(Input* input) {
  return lseek(Descriptor(*input), 0, SEEK_SET) == 0;
}

bool ReadInput(Input* input, unsigned char* buffer, size_t want, size_t* got) {
  *got = 0;
  while (*got < want) {
    ssize_t n = read(Descriptor(*input), buffer + *got, want - *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return true;
}

bool IdentifyPath(const std::string& path, FileId* id) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  *id = IdOf(status);
  return true;
}

FileId StandardInputId() {
  struct stat status;
  if (fstat(0, &status) != 0) return FileId{};
  return IdOf(status);
}

FileId StandardOutputId() {
  struct stat status;
  if (fstat(1, &status) != 0) return FileId{};
  return IdOf(status);
}

std::string LastSystemError() {
  return strerror(errno);
}

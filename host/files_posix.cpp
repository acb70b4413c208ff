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
  return id;
}

int Descriptor(const Input& input) {
  return static_cast<int>(input.handle);
}

// Reads until `want` bytes or the end; false on an error, with errno set.
bool ReadFully(int fd, unsigned char* buffer, size_t want, size_t* got) {
  *got = 0;
  while (*got < want) {
    ssize_t n = read(fd, buffer + *got, want - *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return true;
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

ReadResult ReadAll(Input* input, uint64_t limit, std::vector<unsigned char>* bytes,
                   std::string* why) {
  bytes->clear();
  if (input->regular && input->size > limit) return ReadResult::kTooLarge;
  if (input->regular && lseek(Descriptor(*input), 0, SEEK_SET) != 0) {
    *why = LastSystemError();
    return ReadResult::kFailed;
  }
  // A regular file is read at its size, and one byte more shows it grew since; a stream in
  // steps, so a short one takes little memory, to at most one byte past the limit.
  size_t step = input->regular ? static_cast<size_t>(input->size) + 1 : size_t(1) << 16;
  size_t want = static_cast<size_t>(limit) + 1;
  while (bytes->size() < want) {
    size_t have = bytes->size();
    size_t chunk = want - have < step ? want - have : step;
    bytes->resize(have + chunk);
    size_t got = 0;
    if (!ReadFully(Descriptor(*input), bytes->data() + have, chunk, &got)) {
      *why = LastSystemError();
      bytes->clear();
      return ReadResult::kFailed;
    }
    bytes->resize(have + got);
    if (got < chunk || input->regular) break;
  }
  return bytes->size() > limit ? ReadResult::kTooLarge : ReadResult::kRead;
}

bool ReadStart(Input* input, size_t count, std::vector<unsigned char>* bytes, std::string* why) {
  bytes->assign(count, 0);
  size_t got = 0;
  while (got < count) {
    ssize_t n =
        pread(Descriptor(*input), bytes->data() + got, count - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = LastSystemError();
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes->resize(got);
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

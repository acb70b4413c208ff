#include "host/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/interrupt.h"

namespace {

std::string Folder(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash + 1);
}

// The file a chain of symbolic links ends at, which need not exist yet.
bool FollowLinks(const std::string& name, std::string* target, std::string* why) {
  std::string path = name;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      *target = path;
      return true;
    }
    std::vector<char> link(static_cast<size_t>(status.st_size > 0 ? status.st_size : 255) + 2);
    ssize_t length = readlink(path.c_str(), link.data(), link.size() - 1);
    if (length < 0) {
      *why = LastSystemError();
      return false;
    }
    std::string next(link.data(), static_cast<size_t>(length));
    path = next[0] == '/' ? next : Folder(path) + next;
  }
  errno = ELOOP;
  *why = LastSystemError();
  return false;
}

// The start of the output's name, for the temporary file's, so that it stays within every file
// system's name limit (255 bytes on most) whatever the output's length: at most 64 bytes, not
// cutting a UTF-8 character.
std::string TemporaryBase(const std::string& base) {
  size_t length = base.size() < 64 ? base.size() : 64;
  while (length > 0 && length < base.size() && (base[length] & 0xC0) == 0x80) --length;
  return base.substr(0, length);
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes, std::string* why) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      *why = LastSystemError();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Gives the temporary file the permissions (and, where allowed, the owner) of the file it
// replaces, or those of a new file.
void TakeOver(int fd, const std::string& target, bool replacing) {
  struct stat old;
  if (!replacing || stat(target.c_str(), &old) != 0) {
    fchmod(fd, NewFileMode());
    return;
  }
  mode_t mode = old.st_mode & 07777;
  if (fchown(fd, old.st_uid, old.st_gid) != 0) mode &= 0777;  // no set-id bits for another
  fchmod(fd, mode);
}

bool Install(const std::string& temporary, const std::string& target, bool replace) {
#ifdef RENAME_NOREPLACE
  if (!replace) {
    // A file that appeared since the plan is not replaced unasked.
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
  }
#endif
  return rename(temporary.c_str(), target.c_str()) == 0;
}

}  // namespace

bool WriteThrough(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
                  std::string* why) {
  NoteWriting();  // from the first byte, something is written
  if (plan.way == OutputWay::kStandardOutput) {
    fflush(stdout);
    return WriteAll(1, bytes, why);
  }
  int fd;
  do {
    fd = open(plan.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *why = LastSystemError();
    return false;
  }
  bool ok = WriteAll(fd, bytes, why);
  if (close(fd) != 0 && ok) {
    *why = LastSystemError();
    ok = false;
  }
  return ok;
}

bool WriteAtomically(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
                     std::string* why) {
  std::string folder = Folder(plan.target);
  std::string pattern =
      folder + "." + TemporaryBase(plan.target.substr(folder.size())) + ".spihost-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // Signals wait until the new file is known to their handler, so none can leave it behind.
  HoldInterrupts();
  int fd = mkstemp(name.data());
  if (fd < 0) {
    *why = LastSystemError();
    ReleaseInterrupts();
    return false;
  }
  std::string temporary = name.data();
  SetTemporaryFile(temporary);
  ReleaseInterrupts();
  TakeOver(fd, plan.target, plan.way == OutputWay::kReplace);
  bool ok = WriteAll(fd, bytes, why);
  if (ok && fsync(fd) != 0) {
    *why = LastSystemError();
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    *why = LastSystemError();
    ok = false;
  }
  HoldInterrupts();
  if (ok && !Install(temporary, plan.target, plan.way == OutputWay::kReplace)) {
    *why = LastSystemError();
    ok = false;
  }
  if (!ok) unlink(temporary.c_str());
  if (ok) NoteWriting();
  SetTemporaryFile("");
  ReleaseInterrupts();
  if (ok) {
    // The rename itself lasts once the folder is on disk too.
    int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
  return ok;
}

bool InspectOutput(const std::string& name, ExistingOutput* existing, std::string* why) {
  *existing = ExistingOutput{};
  struct stat status;
  if (stat(name.c_str(), &status) != 0) {
    if (errno == ENOENT) return true;
    *why = "cannot write: " + LastSystemError();
    return false;
  }
  existing->exists = true;
  IdentifyPath(name, &existing->id);
  existing->regular = S_ISREG(status.st_mode);
  if (S_ISDIR(status.st_mode)) {
    errno = EISDIR;
    existing->folder = LastSystemError();
  }
  return true;
}

bool OutputTarget(const std::string& name, std::string* target, std::string* why) {
  return FollowLinks(name, target, why);
}

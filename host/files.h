// Input files of the host, and the facts about files that its rules need: which file a name
// is (device and inode, or volume and file index), and the system's own text for a failure.
//
// Names are UTF-8 everywhere; on Windows every call here takes wide characters, so names in
// any language work. Inputs are regular files, whose size is known before anything is read,
// or streams (standard input, pipes, FIFOs, devices), which are read up to a limit.
#ifndef SPIQLM_HOST_FILES_H
#define SPIQLM_HOST_FILES_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include "host/windows_text.h"
#endif

struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool known = false;
  bool stream = false;    // a pipe, FIFO, socket or character device: what is written never
                          // replaces what was read
  bool noVolume = false;  // the index alone: Wine gives no volume for a redirected handle
};

inline bool SameFile(const FileId& a, const FileId& b) {
  return a.known && b.known && !a.noVolume && !b.noVolume && a.volume == b.volume &&
         a.index == b.index;
}

// Whether `a` and `b` may be one file: the same, or the same index where a volume is unknown.
// For refusing to write over a file, where a needless refusal is safe and a missed one is not.
inline bool MaybeSameFile(const FileId& a, const FileId& b) {
  return SameFile(a, b) || (a.known && b.known && (a.noVolume || b.noVolume) && a.index == b.index);
}

struct Input {
  std::string name;      // as the user gave it; "-" is standard input
  bool regular = false;  // else a stream, read to its end
  uint64_t size = 0;     // of a regular file
  FileId id;
  intptr_t handle = -1;  // a descriptor, or a HANDLE on Windows
};

// Opens `name` for reading ("-": standard input). A folder is refused with the system's text
// for it; so is every other failure, in `*why`.
bool OpenInput(const std::string& name, Input* input, std::string* why);
void CloseInput(Input* input);

enum class ReadResult { kRead, kTooLarge, kFailed, kRefused };

// Judges an input's first bytes before the rest is read: `ended` says they are all of it.
// Returns false, with the reason in `*why`, to stop reading.
typedef std::function<bool(const unsigned char* bytes, size_t size, bool ended, std::string* why)>
    HeadCheck;

// Reads the whole input into `*bytes` when it holds at most `limit` bytes. A regular file's
// size decides before anything is read; a stream is read to at most `limit` + 1 bytes, in
// blocks joined once it has ended, so memory never holds it twice. `check`, when given, is
// asked about a stream's first block (its first MiB) before more is read: kRefused when it
// says no.
ReadResult ReadAll(Input* input, uint64_t limit, std::vector<unsigned char>* bytes,
                   std::string* why, const HeadCheck& check = nullptr);

// Up to `count` bytes from the start of a regular input (fewer when it is shorter).
bool ReadStart(Input* input, size_t count, std::vector<unsigned char>* bytes, std::string* why);

// What each platform provides for the two above (files_posix.cpp, files_windows.cpp): moving a
// regular input back to its start, and reading until `want` bytes or the end. Both leave the
// system's error for LastSystemError on failure.
bool RewindInput(Input* input);
bool ReadInput(Input* input, unsigned char* buffer, size_t want, size_t* got);

// Which file `path` names, following symbolic links; false when it does not exist.
bool IdentifyPath(const std::string& path, FileId* id);

// Which file standard input and standard output are; unknown when closed.
FileId StandardInputId();
FileId StandardOutputId();

// The system's text for the last failed call (errno, or GetLastError on Windows).
std::string LastSystemError();

#ifdef _WIN32
std::wstring Widen(const std::string& utf8);
// Narrow (UTF-16 to UTF-8) is in host/windows_text.h, which the plug-in loader shares.
// The name in the system code page, for a module whose calls take ANSI names; false when the
// name cannot be expressed there exactly.
bool AnsiName(const std::string& utf8, std::string* ansi);
#endif

#endif  // SPIQLM_HOST_FILES_H

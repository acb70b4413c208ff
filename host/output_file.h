// Output files that never lose data.
//
// An output is planned before the work that makes it, so a refusal costs nothing: a name that
// is an input of the command (or an output it wrote already) is refused, whichever name leads
// to it; an existing regular file is replaced only when forced. A regular file is written to a
// temporary file beside it, flushed to disk, closed and renamed into place, so it is either
// the old file or the whole new one; it keeps the old file's permission bits, and through a
// symbolic link the link's target is replaced, not the link. An existing output that is not a
// regular file (a terminal, pipe, FIFO or device), "-", and a name for the program's own
// standard output are written through, never replaced or renamed over.
#ifndef SPIQLM_HOST_OUTPUT_FILE_H
#define SPIQLM_HOST_OUTPUT_FILE_H

#include <string>
#include <vector>

#include "host/files.h"

// A file the command must not write over, and why, for the message.
struct Guarded {
  FileId id;
  std::string what;  // e.g. "an input of this command"
};

// Why `id` may not be written over, from `guarded`; empty when it may. Streams are never
// guarded: bytes written to a terminal, pipe or device do not replace those read from it, and
// standard input and output are often the same terminal.
inline std::string GuardOn(const FileId& id, const std::vector<Guarded>& guarded) {
  if (id.stream) return "";
  for (const Guarded& file : guarded) {
    if (MaybeSameFile(file.id, id)) {
      return "is " + file.what + "; not written over (choose another name with -o or -d)";
    }
  }
  return "";
}

enum class OutputWay { kStandardOutput, kThrough, kReplace, kCreate };

struct OutputPlan {
  std::string name;    // as given or made, for messages
  std::string target;  // where the bytes go, symbolic links followed
  OutputWay way = OutputWay::kCreate;
};

// Decides how `name` is written. On a refusal returns false with the reason in `*why`.
bool PlanOutput(const std::string& name, bool force, const std::vector<Guarded>& guarded,
                OutputPlan* plan, std::string* why);

// Writes `bytes` as planned. On failure says why; no temporary file stays, and a file that was
// to be replaced is as it was.
bool WriteOutput(const OutputPlan& plan, const std::vector<unsigned char>& bytes, std::string* why);

// What each platform provides for the two above (output_file_posix.cpp,
// output_file_windows.cpp).

// What stands at an output's name now.
struct ExistingOutput {
  bool exists = false;
  FileId id;
  bool regular = false;  // a file that a new one replaces, else one written through
  std::string folder;    // the system's words for a folder, when the name is one
};

// Looks at `name` without following it anywhere but where the system does. False, with the
// reason in `*why`, for a name that can be neither created nor written.
bool InspectOutput(const std::string& name, ExistingOutput* existing, std::string* why);

// The file a new or replaced output is written to: on systems with symbolic links, the end of
// the chain `name` starts, which need not exist yet.
bool OutputTarget(const std::string& name, std::string* target, std::string* why);

// Writes to an existing file or device, or to standard output, without replacing it.
bool WriteThrough(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
                  std::string* why);
// Writes a temporary file beside the target and renames it into place.
bool WriteAtomically(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
                     std::string* why);

#endif  // SPIQLM_HOST_OUTPUT_FILE_H

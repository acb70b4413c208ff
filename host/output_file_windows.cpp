#include "host/output_file.h"

#include <stdio.h>
#include <windows.h>

#include "host/interrupt.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The output's folder and the start of its name, for the temporary file's, so that it stays
// within the system's name limit (255 characters) whatever the output's length: at most 64 of
// its UTF-16 units, not cutting a pair.
std::wstring TemporaryStart(const std::wstring& target) {
  size_t base = target.find_last_of(L"/\\");
  base = base == std::wstring::npos ? 0 : base + 1;
  size_t length = target.size() - base < 64 ? target.size() - base : 64;
  if (length > 0 && base + length < target.size() && target[base + length] >= 0xDC00 &&
      target[base + length] <= 0xDFFF) {
    --length;
  }
  return target.substr(0, base + length);
}

// Whether the last part of `name` is a device name with an extension ("aux.bmp"), which every
// folder on Windows keeps for the device ("AUX"); false for the device's bare name ("NUL"),
// which means the device and is written through, as /dev/null is elsewhere.
bool DeviceName(const std::string& name, std::string* device) {
  size_t start = name.find_last_of("/\\");
  std::string part = name.substr(start == std::string::npos ? 0 : start + 1);
  // The system drops trailing dots and spaces: "nul." is NUL itself.
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
  size_t dot = part.find('.');
  if (dot == std::string::npos) return false;
  std::string stem = part.substr(0, dot);
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  bool numbered = stem.size() == 4 &&
                  (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
                  stem[3] >= '1' && stem[3] <= '9';
  if (!numbered && stem != "CON" && stem != "PRN" && stem != "AUX" && stem != "NUL") return false;
  *device = stem;
  return true;
}

bool WriteAll(HANDLE file, const std::vector<unsigned char>& bytes, std::string* why) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk =
        bytes.size() - done > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size() - done);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      *why = LastSystemError();
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

bool WriteThrough(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
                  std::string* why) {
  NoteWriting();  // from the first byte, something is written
  if (plan.way == OutputWay::kStandardOutput) {
    fflush(stdout);
    return WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes, why);
  }
  HANDLE file = CreateFileW(Widen(plan.target).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *why = LastSystemError();
    return false;
  }
  bool ok = WriteAll(file, bytes, why);
  CloseHandle(file);
  return ok;
}

bool WriteAtomically(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
                     std::string* why) {
  std::wstring target = Widen(plan.target);
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring temporary;
  HoldInterrupts();
  for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = TemporaryStart(target) + L".spihost-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(attempt);
    // Shared for deleting, so a console handler can remove it while it is open.
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    *why = LastSystemError();
    ReleaseInterrupts();
    return false;
  }
  SetTemporaryFile(Narrow(temporary));
  ReleaseInterrupts();
  bool ok = WriteAll(file, bytes, why);
  if (ok && !FlushFileBuffers(file)) {
    *why = LastSystemError();
    ok = false;
  }
  CloseHandle(file);
  DWORD replace = plan.way == OutputWay::kReplace ? MOVEFILE_REPLACE_EXISTING : 0;
  HoldInterrupts();
  if (ok && !MoveFileExW(temporary.c_str(), target.c_str(), replace | MOVEFILE_WRITE_THROUGH)) {
    *why = LastSystemError();
    ok = false;
  }
  if (!ok) DeleteFileW(temporary.c_str());
  if (ok) NoteWriting();
  SetTemporaryFile("");
  ReleaseInterrupts();
  return ok;
}

bool InspectOutput(const std::string& name, ExistingOutput* existing, std::string* why) {
  *existing = ExistingOutput{};
  std::string device;
  if (DeviceName(name, &device)) {
    *why = "is the device " + device + " on Windows, which keeps the name with any extension; " +
           "not written (choose another name with -o or -d, or -o " + device + " for the device)";
    return false;
  }
  DWORD attributes = GetFileAttributesW(Widen(name).c_str());
  HANDLE file = CreateFileW(Widen(name).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    *why = "cannot write: " + LastSystemError();
    return false;
  }
  bool disk = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  existing->exists = true;
  IdentifyPath(name, &existing->id);
  bool folder =
      disk && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder) existing->folder = "is a folder";
  existing->regular = disk && !folder;
  return true;
}

bool OutputTarget(const std::string& name, std::string* target, std::string* /*why*/) {
  *target = name;
  return true;
}

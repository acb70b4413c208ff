#include "host/files.h"

#include <string.h>
#include <windows.h>

namespace {

HANDLE Handle(const Input& input) {
  return reinterpret_cast<HANDLE>(input.handle);
}

FileId IdOf(HANDLE file) {
  FileId id;
  if (GetFileType(file) != FILE_TYPE_DISK) return id;
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(file, &information)) {
    id.volume = information.dwVolumeSerialNumber;
    id.index = uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    id.known = true;
    return id;
  }
  // A handle without the right to read attributes, as a redirected standard output can be,
  // still tells its file's index, and Wine's tells no volume.
  FILE_ID_INFO fileId;
  if (GetFileInformationByHandleEx(file, FileIdInfo, &fileId, sizeof fileId)) {
    memcpy(&id.index, fileId.FileId.Identifier, sizeof id.index);
    id.volume = fileId.VolumeSerialNumber & 0xFFFFFFFFu;  // as the call above gives it
    id.noVolume = id.volume == 0;
    id.known = true;
  }
  return id;
}

}  // namespace

std::wstring Widen(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

bool AnsiName(const std::string& utf8, std::string* ansi) {
  std::wstring wide = Widen(utf8);
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                   nullptr, &lossy);
  if (length <= 0 || lossy) return false;
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &bytes[0], length, nullptr,
                      &lossy);
  // The way back must give the same name, or the plug-in would open another file.
  int back = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.c_str(), -1, nullptr, 0);
  std::wstring again(static_cast<size_t>(back > 0 ? back : 1), L'\0');
  if (back <= 0 || lossy ||
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.c_str(), -1, &again[0], back) <= 0) {
    return false;
  }
  again.resize(static_cast<size_t>(back - 1));
  if (again != wide) return false;
  bytes.resize(static_cast<size_t>(length - 1));
  *ansi = bytes;
  return true;
}

bool OpenInput(const std::string& name, Input* input, std::string* why) {
  *input = Input{};
  input->name = name;
  HANDLE file;
  if (name == "-") {
    file = GetStdHandle(STD_INPUT_HANDLE);
    if (file == nullptr || file == INVALID_HANDLE_VALUE) {
      SetLastError(ERROR_INVALID_HANDLE);
      *why = LastSystemError();
      return false;
    }
  } else {
    DWORD attributes = GetFileAttributesW(Widen(name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      *why = "is a folder";
      return false;
    }
    file = CreateFileW(Widen(name).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      *why = LastSystemError();
      return false;
    }
  }
  input->handle = reinterpret_cast<intptr_t>(file);
  // Standard input is read from where it stands, to its end, as every filter does.
  input->regular = GetFileType(file) == FILE_TYPE_DISK && name != "-";
  LARGE_INTEGER size;
  if (input->regular && GetFileSizeEx(file, &size)) input->size = uint64_t(size.QuadPart);
  input->id = IdOf(file);
  return true;
}

void CloseInput(Input* input) {
  if (input->handle != -1 && input->name != "-") CloseHandle(Handle(*input));
  input->handle = -1;
}

bool RewindInput(Input* input) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return SetFilePointerEx(Handle(*input), start, nullptr, FILE_BEGIN) != FALSE;
}

bool ReadInput(Input* input, unsigned char* buffer, size_t want, size_t* got) {
  *got = 0;
  while (*got < want) {
    DWORD chunk = want - *got > 1u << 30 ? 1u << 30 : static_cast<DWORD>(want - *got);
    DWORD read = 0;
    if (!ReadFile(Handle(*input), buffer + *got, chunk, &read, nullptr)) {
      // The writer of a pipe closing it is its end, as on other systems.
      if (GetLastError() == ERROR_BROKEN_PIPE) break;
      return false;
    }
    if (read == 0) break;
    *got += read;
  }
  return true;
}

bool IdentifyPath(const std::string& path, FileId* id) {
  HANDLE file =
      CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  *id = IdOf(file);
  CloseHandle(file);
  return true;
}

FileId StandardInputId() {
  return IdOf(GetStdHandle(STD_INPUT_HANDLE));
}

FileId StandardOutputId() {
  return IdOf(GetStdHandle(STD_OUTPUT_HANDLE));
}

std::string LastSystemError() {
  return SystemError(GetLastError());
}

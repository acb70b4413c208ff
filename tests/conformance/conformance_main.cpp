// The conformance suite: treats the built module as an image viewer does. It loads the module at
// run time, resolves the five exports (by name, or for a Windows DLL by ordinal), calls them
// through the host's calling convention and takes over and frees the blocks with the host's
// LocalFree. The same program runs natively, on i386 Linux against the 32-bit DLL (under
// qemu-i386), and, built for Windows, under Wine against the real kernel. Where the stand-in for
// the Windows calls serves the module (all but Wine), it also checks what the module asked of
// it and fails each of its fallible calls in turn.
//
//   conformance MODULE [--ordinal]
//
// Prints one line per failed check and ends with "N passed, N failed" (cases and checks).
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "host/plugin_loader.h"
#include "tests/conformance/cases_text.h"
#include "tests/conformance/qlm_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>

#include "winapi/winapi_testing.h"
#endif

namespace {

SpiPlugin plugin;
std::string scratch_dir;
int passed = 0;
int failed = 0;

// One named check group; prints every failed expectation and counts the group once.
struct Check {
  std::string name;
  bool ok = true;
};

void Expect(Check* check, bool condition, const std::string& what) {
  if (condition) return;
  check->ok = false;
  printf("FAIL %s: %s\n", check->name.c_str(), what.c_str());
}

void Done(const Check& check) {
  if (check.ok) {
    ++passed;
  } else {
    ++failed;
  }
}

std::string Str(long value) {
  return std::to_string(value);
}

std::string ScratchPath(const std::string& name) {
#ifdef _WIN32
  return scratch_dir + "\\" + name;
#else
  return scratch_dir + "/" + name;
#endif
}

bool MakeScratchDir() {
#ifdef _WIN32
  char temp[MAX_PATH];
  if (GetTempPathA(MAX_PATH, temp) == 0) return false;
  scratch_dir = std::string(temp) + "spiqlm-conformance-" + std::to_string(GetCurrentProcessId());
  return CreateDirectoryA(scratch_dir.c_str(), nullptr) != FALSE;
#else
  char pattern[] = "/tmp/spiqlm-conformance-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  scratch_dir = pattern;
  return true;
#endif
}

bool WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

#ifndef _WIN32
// What the stand-in recorded since WinTraceStart.
std::vector<WinTraceEntry> StopTrace() {
  std::vector<WinTraceEntry> entries(static_cast<size_t>(WinTraceStop(nullptr, 0)));
  WinTraceStop(entries.data(), static_cast<long>(entries.size()));
  return entries;
}

// The module opens files only to read existing ones, shared for reading, and asks only for
// movable zero-filled blocks.
void CheckRequests(Check* check, const std::vector<WinTraceEntry>& trace) {
  for (const WinTraceEntry& entry : trace) {
    if (entry.call == kWinCallCreateFile) {
      Expect(check,
             entry.args[1] == GENERIC_READ && entry.args[2] == FILE_SHARE_READ &&
                 entry.args[3] == 0 && entry.args[4] == OPEN_EXISTING &&
                 entry.args[5] == FILE_ATTRIBUTE_NORMAL && entry.args[6] == 0,
             "CreateFileA asked for more than reading an existing file, shared for reading");
    }
    if (entry.call == kWinCallLocalAlloc) {
      Expect(check, entry.args[0] == (LMEM_MOVEABLE | LMEM_ZEROINIT),
             "LocalAlloc flags " + Str(static_cast<long>(entry.args[0])));
    }
  }
}

// A decode that completed or was cancelled ends by releasing the row buffer, unlocking the pixel
// block (when it has memory to lock), then the information block, then closing the file.
void CheckReleaseOrder(Check* check, const std::vector<WinTraceEntry>& trace, HLOCAL info,
                       HLOCAL pixels, bool pixelMemory, bool file) {
  uintptr_t rowBuffer = 0, handle = 0;
  for (const WinTraceEntry& entry : trace) {
    if (entry.call == kWinCallMalloc) rowBuffer = entry.result;
    if (entry.call == kWinCallCreateFile) handle = entry.result;
  }
  std::vector<std::pair<WinCall, uintptr_t>> want = {{kWinCallFree, rowBuffer}};
  if (pixelMemory) want.push_back({kWinCallLocalUnlock, reinterpret_cast<uintptr_t>(pixels)});
  want.push_back({kWinCallLocalUnlock, reinterpret_cast<uintptr_t>(info)});
  if (file) want.push_back({kWinCallCloseHandle, handle});
  bool same = trace.size() >= want.size();
  for (size_t i = 0; same && i < want.size(); ++i) {
    const WinTraceEntry& entry = trace[trace.size() - want.size() + i];
    same = entry.call == want[i].first && entry.args[0] == want[i].second;
  }
  Expect(check, same, "release order: row buffer, pixel block, information block, file");
}
#endif

// Live resources of the process, where the stand-in can count them.
struct Resources {
  long files, blocks, mallocs;
  bool operator==(const Resources& other) const {
    return files == other.files && blocks == other.blocks && mallocs == other.mallocs;
  }
};

Resources LiveResources() {
#ifdef _WIN32
  return Resources{0, 0, 0};
#else
  return Resources{WinLiveFiles(), WinLiveBlocks(), WinLiveMallocs()};
#endif
}

struct ProgressCall {
  int numerator, denominator;
  long lData;
};

struct ProgressLog {
  std::vector<ProgressCall> calls;
  int cancelAt;
};

ProgressLog* progress_log;
// Passed through lData untouched; a value with high bits set shows truncation.
const long kLData = 0x2468ACE;

int WINAPI RecordProgress(int numerator, int denominator, long lData) {
  progress_log->calls.push_back(ProgressCall{numerator, denominator, lData});
  return numerator == progress_log->cancelAt ? 1 : 0;
}

// Checks the two blocks a decode handed over, then frees them as the host does.
void CheckHandedOver(Check* check, const fixture::Case& c, HLOCAL info, HLOCAL pixels,
                     int rowsDone) {
  std::vector<unsigned char> wantInfo = fixture::ExpectedInfo(c.width, c.height);
  std::vector<unsigned char> wantPixels = fixture::ExpectedPixels(c.width, c.height, rowsDone);
  Expect(check, info != nullptr && pixels != nullptr, "both handles set");
  if (info == nullptr || pixels == nullptr) return;
  Expect(check, plugin.LocalSize(info) == 44, "information block is 44 bytes");
  Expect(check, plugin.LocalSize(pixels) == wantPixels.size(),
         "pixel block is " + Str(static_cast<long>(wantPixels.size())) + " bytes, not " +
             Str(static_cast<long>(plugin.LocalSize(pixels))));
  const unsigned char* infoBytes = static_cast<unsigned char*>(plugin.LocalLock(info));
  Expect(check, infoBytes != nullptr && memcmp(infoBytes, wantInfo.data(), 44) == 0,
         "information block bytes");
  // One lock and one unlock must bring the count back to zero: the block came unlocked.
  Expect(check, plugin.LocalUnlock(info) == FALSE, "information block handed over unlocked");
  const unsigned char* pixelBytes = static_cast<unsigned char*>(plugin.LocalLock(pixels));
  if (wantPixels.empty()) {
    Expect(check, pixelBytes == nullptr, "an empty pixel block locks to null");
  } else {
    Expect(check, pixelBytes != nullptr, "pixel block locks");
    if (pixelBytes != nullptr) {
      size_t bad = 0;
      while (bad < wantPixels.size() && pixelBytes[bad] == wantPixels[bad]) ++bad;
      Expect(check, bad == wantPixels.size(), "pixel block differs at byte " + Str(long(bad)));
      Expect(check, plugin.LocalUnlock(pixels) == FALSE, "pixel block handed over unlocked");
    }
  }
  Expect(check, plugin.LocalFree(info) == nullptr, "host frees the information block");
  Expect(check, plugin.LocalFree(pixels) == nullptr, "host frees the pixel block");
}

void CheckProgress(Check* check, const fixture::Case& c, const ProgressLog& log, int result) {
  size_t want = 0;
  if (result == 0) want = static_cast<size_t>(c.height);
  if (result == 1) want = static_cast<size_t>(c.cancel + 1);
  Expect(check, log.calls.size() == want,
         Str(long(log.calls.size())) + " progress calls, want " + Str(long(want)));
  for (size_t i = 0; i < log.calls.size(); ++i) {
    const ProgressCall& call = log.calls[i];
    Expect(check,
           call.numerator == static_cast<int>(i) && call.denominator == c.height &&
               call.lData == kLData,
           "progress call " + Str(long(i)) + " was (" + Str(call.numerator) + ", " +
               Str(call.denominator) + ", " + Str(call.lData) + ")");
  }
}

void RunDecodeCase(const fixture::Case& c) {
  Check check{c.name + "/" + c.mode};
  const bool memory = c.mode == "memory";
  std::vector<unsigned char> image = fixture::MakeQlm(c.width, c.height);
  const long exact = static_cast<long>(image.size());
  std::string path;
  char* source;
  long length;
  if (memory) {
    if (c.delta > 0) image.resize(image.size() + static_cast<size_t>(c.delta), 0xAB);
    source = reinterpret_cast<char*>(image.data());
    length = exact + c.delta;
  } else {
    image.resize(static_cast<size_t>(exact + c.delta), 0xAB);
    path = ScratchPath(c.name + ".qlm");
    if (!WriteFileBytes(path, image)) {
      Expect(&check, false, "cannot write " + path);
      Done(check);
      return;
    }
    source = &path[0];
    length = 1;  // not used in file mode; any value must do
  }
  // Bits above the low three carry no mode.
  const unsigned int flags = memory ? 0x101u : 0x100u;

  Resources before = LiveResources();
  ProgressLog log{{}, c.cancel};
  progress_log = &log;
  HLOCAL info = reinterpret_cast<HLOCAL>(0x1);
  HLOCAL pixels = reinterpret_cast<HLOCAL>(0x1);
#ifndef _WIN32
  WinTraceStart();
#endif
  int result = plugin.GetPicture(source, length, flags, &info, &pixels, RecordProgress, kLData);
#ifndef _WIN32
  std::vector<WinTraceEntry> trace = StopTrace();
  CheckRequests(&check, trace);
  if (result == 0 || result == 1) {
    const bool pixelMemory = fixture::StrideOf(c.width) * c.height != 0;
    CheckReleaseOrder(&check, trace, info, pixels, pixelMemory, !memory);
  }
  WinTraceStart();
#endif
  Expect(&check, result == c.picture,
         "GetPicture gave " + Str(result) + ", want " + Str(c.picture));
  CheckProgress(&check, c, log, result);
  if (result == 0 || result == 1) {
    int rowsDone = result == 0 ? c.height : c.cancel + 1;
    CheckHandedOver(&check, c, info, pixels, rowsDone);
  } else {
    Expect(&check, info == nullptr && pixels == nullptr, "no handle left after a failure");
  }

  PictureInfo record;
  memset(&record, 0xEE, sizeof record);
  int infoResult = plugin.GetPictureInfo(source, length, flags, &record);
  Expect(&check, infoResult == c.info,
         "GetPictureInfo gave " + Str(infoResult) + ", want " + Str(c.info));
  if (infoResult == 0) {
    Expect(&check,
           record.left == 0 && record.top == 0 && record.width == c.width &&
               record.height == c.height && record.x_density == 0 && record.y_density == 0 &&
               record.colorDepth == 24 && record.hInfo == nullptr,
           "PictureInfo fields");
  } else {
    PictureInfo untouched;
    memset(&untouched, 0xEE, sizeof untouched);
    Expect(&check, memcmp(&record, &untouched, sizeof record) == 0, "PictureInfo untouched");
  }

  int supported = memory ? plugin.IsSupported(nullptr, reinterpret_cast<uintptr_t>(image.data()))
                         : plugin.IsSupported(source, 0x1C);
  Expect(&check, supported == c.supported,
         "IsSupported gave " + Str(supported) + ", want " + Str(c.supported));
#ifndef _WIN32
  CheckRequests(&check, StopTrace());
#endif
  Expect(&check, LiveResources() == before, "resources left behind");
  Done(check);
}

void CheckPluginInfo() {
  struct Row {
    int infoNo;
    int bufferLength;
    const char* text;  // what the buffer starts with
    int result;
    bool terminated;  // the rest of bufferLength is NUL
  };
  const Row rows[] = {
      {0, 256, "00IN", 4, true},  {1, 256, "Quillmere to DIB filter", 23, true},
      {2, 256, "*.QLM", 5, true}, {3, 256, "Quillmere", 9, true},
      {4, 256, "", 0, true},      {-1, 256, "", 0, true},
      {1, 5, "Quill", 5, false},  {0, 4, "00IN", 4, false},
      {0, 5, "00IN", 4, true},
  };
  for (const Row& row : rows) {
    Check check{"GetPluginInfo(" + Str(row.infoNo) + ", " + Str(row.bufferLength) + ")"};
    char buffer[300];
    memset(buffer, 0x5A, sizeof buffer);
    int result = plugin.GetPluginInfo(row.infoNo, buffer, row.bufferLength);
    Expect(&check, result == row.result, "returned " + Str(result));
    size_t textLength = strlen(row.text);
    Expect(&check, memcmp(buffer, row.text, textLength) == 0, "text");
    bool zeros = true;
    for (int i = static_cast<int>(textLength); i < row.bufferLength && row.terminated; ++i) {
      // An index without a string only has its first byte cleared.
      if (row.result == 0 && i > 0) break;
      zeros = zeros && buffer[i] == '\0';
    }
    Expect(&check, zeros, "NUL fill");
    Expect(&check, buffer[row.bufferLength] == 0x5A, "nothing written past the buffer");
    Done(check);
  }
  Check empty{"GetPluginInfo with no buffer"};
  char sentinel = 0x5A;
  Expect(&empty, plugin.GetPluginInfo(4, nullptr, 256) == 0, "null buffer, bad index");
  Expect(&empty, plugin.GetPluginInfo(0, nullptr, 256) == 0, "null buffer, good index");
  Expect(&empty, plugin.GetPluginInfo(0, &sentinel, 0) == 0 && sentinel == 0x5A, "length 0");
  Expect(&empty, plugin.GetPluginInfo(4, &sentinel, -1) == 0 && sentinel == 0x5A, "length -1");
  Done(empty);
}

void CheckHeadQueries() {
  struct Row {
    unsigned char head[4];
    int supported;
  };
  const Row rows[] = {{{0x01, 0x40, 0x00, 0xF0}, 1}, {{0x4D, 0x5A, 0x90, 0x00}, 0},
                      {{0x02, 0x00, 0x02, 0x00}, 1}, {{0x02, 0x01, 0x00, 0x10}, 0},
                      {{0x00, 0x10, 0x02, 0x01}, 0}, {{0x00, 0x00, 0x00, 0x00}, 1},
                      {{0xFF, 0xFF, 0x00, 0x01}, 0}};
  for (const Row& row : rows) {
    Check check{"IsSupported head " + Str(row.head[0]) + " " + Str(row.head[1]) + " " +
                Str(row.head[2]) + " " + Str(row.head[3])};
    // Hosts pass the first 2 KiB of the file.
    std::vector<unsigned char> head(2048, 0);
    memcpy(head.data(), row.head, 4);
    char name[] = "picture.qlm";
    Expect(&check,
           plugin.IsSupported(name, reinterpret_cast<uintptr_t>(head.data())) == row.supported,
           "IsSupported");
    Done(check);
  }
  Check info{"GetPictureInfo of a 320 x 240 head"};
  unsigned char head[4] = {0x01, 0x40, 0x00, 0xF0};
  PictureInfo record;
  int result = plugin.GetPictureInfo(reinterpret_cast<char*>(head), 4, 1, &record);
  Expect(&info,
         result == 0 && record.width == 320 && record.height == 240 && record.colorDepth == 24,
         "fields");
  Done(info);
}

void CheckRefusals() {
  Check check{"refusals"};
  Resources before = LiveResources();
  std::string missing = ScratchPath("missing.qlm");
  HLOCAL info = nullptr, pixels = nullptr;
  PictureInfo record;
  Expect(&check, plugin.GetPicture(&missing[0], 0, 0, &info, &pixels, nullptr, 0) == 2,
         "missing file decodes to 2");
  Expect(&check, plugin.GetPictureInfo(&missing[0], 0, 0, &record) == 2, "missing file info 2");
  Expect(&check, plugin.IsSupported(&missing[0], 0x1C) == 0, "missing file not supported");
  std::string directory = scratch_dir;
  Expect(&check, plugin.GetPicture(&directory[0], 0, 0, &info, &pixels, nullptr, 0) == 2,
         "a directory decodes to 2");
  Expect(&check, plugin.IsSupported(&directory[0], 0) == 0, "a directory is not supported");
  Expect(&check, plugin.GetPicture(nullptr, 0, 0, &info, &pixels, nullptr, 0) == 2, "null name");
  Expect(&check, plugin.GetPicture(nullptr, 8, 1, &info, &pixels, nullptr, 0) == 2, "null image");
  unsigned char image[8] = {0, 2, 0, 1, 0xF8, 0, 0x07, 0xC0};
  char* bytes = reinterpret_cast<char*>(image);
  Expect(&check, plugin.GetPicture(bytes, 8, 1, nullptr, &pixels, nullptr, 0) == 2,
         "null info handle");
  Expect(&check, plugin.GetPicture(bytes, 8, 1, &info, nullptr, nullptr, 0) == 2,
         "null pixel handle");
  Expect(&check, plugin.GetPictureInfo(bytes, 8, 1, nullptr) == 2, "null record");
  Expect(&check, plugin.GetPictureInfo(nullptr, 8, 1, &record) == 2, "null source");
  Expect(&check, plugin.GetPreview(nullptr, 0, 0, nullptr, nullptr, nullptr, 0) == -1,
         "GetPreview with nothing");
  Expect(&check, plugin.GetPreview(bytes, 8, 1, &info, &pixels, RecordProgress, 0) == -1,
         "GetPreview with a picture");
  // With no callback the whole picture still decodes.
  Expect(&check, plugin.GetPicture(bytes, 8, 1, &info, &pixels, nullptr, 0) == 0, "no callback");
  const unsigned char* bgr = static_cast<unsigned char*>(plugin.LocalLock(pixels));
  const unsigned char want[8] = {0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0, 0};
  Expect(&check, bgr != nullptr && memcmp(bgr, want, 8) == 0, "green then red");
  plugin.LocalUnlock(pixels);
  plugin.LocalFree(pixels);
  plugin.LocalFree(info);
  Expect(&check, LiveResources() == before, "resources left behind");
  Done(check);
}

#ifdef _WIN32
// What only the real kernel shows: the behaviour the stand-in imitates.
void CheckRealKernel() {
  Check zero{"kernel: a 0-byte movable block locks to null"};
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 0);
  Expect(&zero, block != nullptr && LocalLock(block) == nullptr, "null address");
  Expect(&zero, LocalFree(block) == nullptr, "freed");
  Done(zero);

  Check locked{"kernel: a file held without read sharing"};
  std::vector<unsigned char> image = fixture::MakeQlm(2, 2);
  std::string path = ScratchPath("held.qlm");
  WriteFileBytes(path, image);
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  Expect(&locked, held != INVALID_HANDLE_VALUE, "held");
  HLOCAL info = nullptr, pixels = nullptr;
  Expect(&locked, plugin.GetPicture(&path[0], 0, 0, &info, &pixels, nullptr, 0) == 2,
         "GetPicture refused");
  Expect(&locked, plugin.IsSupported(&path[0], 0) == 0, "IsSupported refused");
  CloseHandle(held);
  Expect(&locked, plugin.GetPicture(&path[0], 0, 0, &info, &pixels, nullptr, 0) == 0,
         "decodes once released");
  LocalFree(info);
  LocalFree(pixels);
  Done(locked);
}
#endif

// A file of 4 GiB + 6 bytes whose header says 1 x 1: its low 32 bits of size are those of a
// well-formed 1 x 1 file, and only the high part tells them apart.
void CheckHugeFile() {
  Check check{"a file of 4 GiB + 6 bytes"};
  std::string path = ScratchPath("huge.qlm");
  std::vector<unsigned char> image = fixture::MakeQlm(1, 1);
  WriteFileBytes(path, image);
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  LONG high = 1;
  bool grown = file != INVALID_HANDLE_VALUE && SetFilePointer(file, 6, &high, FILE_BEGIN) == 6 &&
               SetEndOfFile(file) != FALSE;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
#else
  bool grown = truncate(path.c_str(), (1LL << 32) + 6) == 0;
#endif
  Expect(&check, grown, "made sparse");
  HLOCAL info = nullptr, pixels = nullptr;
  Expect(&check, plugin.GetPicture(&path[0], 0, 0, &info, &pixels, nullptr, 0) == 2, "refused");
  remove(path.c_str());
  Done(check);
}

#ifndef _WIN32
const WinOp kFallibleOps[] = {kWinOpCreateFile, kWinOpReadFile,  kWinOpSetFilePointer,
                              kWinOpLocalAlloc, kWinOpLocalLock, kWinOpMalloc};

const char* OpName(WinOp op) {
  switch (op) {
    case kWinOpCreateFile:
      return "CreateFileA";
    case kWinOpReadFile:
      return "ReadFile";
    case kWinOpSetFilePointer:
      return "SetFilePointer";
    case kWinOpLocalAlloc:
      return "LocalAlloc";
    case kWinOpLocalLock:
      return "LocalLock";
    default:
      return "malloc";
  }
}

// Which result each failure must give: memory shortages are 4, the second open is 6, and a
// failed probe, seek or read means the data cannot be taken as a QLM image.
int ExpectedResult(WinOp op, long nth) {
  switch (op) {
    case kWinOpLocalAlloc:
    case kWinOpLocalLock:
    case kWinOpMalloc:
      return 4;
    case kWinOpCreateFile:
      return nth == 2 ? 6 : 2;
    default:
      return 2;
  }
}

// Every call of a 5 x 3 decode that can fail, failed in turn in both modes: each failure gives
// its result code and leaves no file, block or malloc behind. First a decode that fails nothing
// shows which calls there are: a streaming decode with one row buffer.
void CheckFailureInjection() {
  std::vector<unsigned char> image = fixture::MakeQlm(5, 3);
  std::string path = ScratchPath("injected.qlm");
  WriteFileBytes(path, image);
  struct Mode {
    bool memory;
    long calls[kWinOpCount];  // in kWinOp order
  };
  // File mode: the probe's open and read, then one open, two seeks and one read per row.
  const Mode modes[] = {{false, {2, 1 + 3, 2, 2, 2, 1}}, {true, {0, 0, 0, 2, 2, 1}}};
  long points = 0;
  for (const Mode& mode : modes) {
    const std::string modeName = mode.memory ? "memory" : "file";
    char* source = mode.memory ? reinterpret_cast<char*>(image.data()) : &path[0];
    const long length = static_cast<long>(image.size());
    const unsigned int flags = mode.memory ? 1 : 0;
    Check streams{"injection, " + modeName + ": the calls of a decode"};
    Resources before = LiveResources();
    WinResetCalls();
    HLOCAL info = nullptr, pixels = nullptr;
    Expect(&streams, plugin.GetPicture(source, length, flags, &info, &pixels, nullptr, 0) == 0,
           "decodes");
    long made[kWinOpCount];
    for (WinOp op : kFallibleOps) {
      made[op] = WinCalls(op);
      Expect(&streams, made[op] == mode.calls[op],
             Str(made[op]) + " calls of " + OpName(op) + ", want " + Str(mode.calls[op]));
    }
    Resources after = LiveResources();
    Expect(&streams, after.files == before.files && after.mallocs == before.mallocs,
           "files and mallocs left behind");
    Expect(&streams, after.blocks == before.blocks + 2, "the host's two blocks");
    Expect(&streams, WinLockCount(info) == 0 && WinLockCount(pixels) == 0, "blocks unlocked");
    plugin.LocalFree(info);
    plugin.LocalFree(pixels);
    Done(streams);
    for (WinOp op : kFallibleOps) {
      for (long nth = 1; nth <= made[op]; ++nth) {
        Check check{"injection, " + modeName + ": " + OpName(op) + " #" + Str(nth) + " fails"};
        Resources start = LiveResources();
        info = pixels = reinterpret_cast<HLOCAL>(0x1);
        WinFailNth(op, nth);
        const int result = plugin.GetPicture(source, length, flags, &info, &pixels, nullptr, 0);
        WinFailNth(op, 0);
        Expect(&check, result == ExpectedResult(op, nth),
               "gave " + Str(result) + ", want " + Str(ExpectedResult(op, nth)));
        Expect(&check, LiveResources() == start, "resources left behind");
        Expect(&check, info == nullptr && pixels == nullptr, "no handle left after a failure");
        Done(check);
        ++points;
      }
    }
  }
  Check count{"injection: failure points found"};
  Expect(&count, points > 10, Str(points) + " points");
  Done(count);
  remove(path.c_str());
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: conformance MODULE [--ordinal]\n");
    return 2;
  }
  Lookup lookup =
      argc > 2 && strcmp(argv[2], "--ordinal") == 0 ? Lookup::kByOrdinal : Lookup::kByName;
  std::string error;
  if (!LoadPlugin(argv[1], lookup, &plugin, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  if (!MakeScratchDir()) {
    fprintf(stderr, "cannot make a scratch folder\n");
    return 2;
  }
  std::vector<fixture::Case> cases = fixture::ParseCases(kCasesText);
  for (const fixture::Case& c : cases) RunDecodeCase(c);
  CheckPluginInfo();
  CheckHeadQueries();
  CheckRefusals();
  CheckHugeFile();
#ifdef _WIN32
  CheckRealKernel();
#else
  CheckFailureInjection();
#endif
  for (const fixture::Case& c : cases) {
    if (c.mode == "file") remove(ScratchPath(c.name + ".qlm").c_str());
  }
  remove(ScratchPath("held.qlm").c_str());
#ifdef _WIN32
  RemoveDirectoryA(scratch_dir.c_str());
#else
  rmdir(scratch_dir.c_str());
#endif
  UnloadPlugin(&plugin);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && !cases.empty() ? 0 : 1;
}

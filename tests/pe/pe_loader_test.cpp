// The PE loader and its checked call, on i386 Linux (under qemu-i386 on these machines):
// callees that break the calling convention are caught and named, the DLL is mapped away from
// its preferred base with its exports found both ways, and a DLL that asks for an import the
// loader does not provide or for a writable code section, or whose entry point answers FALSE,
// is refused with the reason.
//
//   pe_loader_test MODULE
//
// Ends with "N passed, N failed".
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/pe_call.h"
#include "host/pe_loader.h"

// Callees with two stdcall arguments, each keeping or breaking one rule.
extern "C" uint32_t SumOfTwo(uint32_t, uint32_t);
extern "C" uint32_t StackAtCall(uint32_t, uint32_t);
extern "C" uint32_t RemovesFour(uint32_t, uint32_t);
extern "C" uint32_t RemovesNone(uint32_t, uint32_t);
extern "C" uint32_t ClobbersEbx(uint32_t, uint32_t);
extern "C" uint32_t ClobbersEsi(uint32_t, uint32_t);
extern "C" uint32_t ClobbersEdi(uint32_t, uint32_t);
extern "C" uint32_t ClobbersEbp(uint32_t, uint32_t);
asm(R"(
        .text
SumOfTwo:
        movl 4(%esp), %eax
        addl 8(%esp), %eax
        ret $8
StackAtCall:
        leal 4(%esp), %eax
        ret $8
RemovesFour:
        ret $4
RemovesNone:
        ret
ClobbersEbx:
        movl $1, %ebx
        ret $8
ClobbersEsi:
        movl $1, %esi
        ret $8
ClobbersEdi:
        movl $1, %edi
        ret $8
ClobbersEbp:
        movl $1, %ebp
        ret $8
)");

namespace {

int passed = 0;
int failed = 0;

void Expect(bool condition, const std::string& what) {
  if (condition) {
    ++passed;
  } else {
    ++failed;
    printf("FAIL %s\n", what.c_str());
  }
}

template <typename Fn>
uint32_t Address(Fn* function) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(function));
}

const uint32_t kArgs[2] = {40, 2};

void CheckedCallRecordsWhatTheCalleeDid() {
  struct Row {
    const char* name;
    uint32_t (*callee)(uint32_t, uint32_t);
    uint32_t removed;
    int clobbered;  // index into kPeSentinels, or -1
  };
  const Row rows[] = {
      {"SumOfTwo", SumOfTwo, 8, -1},       {"RemovesFour", RemovesFour, 4, -1},
      {"RemovesNone", RemovesNone, 0, -1}, {"ClobbersEbx", ClobbersEbx, 8, 0},
      {"ClobbersEsi", ClobbersEsi, 8, 1},  {"ClobbersEdi", ClobbersEdi, 8, 2},
      {"ClobbersEbp", ClobbersEbp, 8, 3},
  };
  for (uint32_t offset = 0; offset < 16; offset += 4) {
    const std::string at = " at offset " + std::to_string(offset);
    for (const Row& row : rows) {
      PeCallFrame frame = {};
      frame.target = Address(row.callee);
      frame.args = kArgs;
      frame.count = 2;
      frame.offset = offset;
      const uint32_t result = PeCheckedCall(&frame);
      const std::string what = std::string(row.name) + at;
      Expect(frame.removed == row.removed,
             what + ": bytes removed " + std::to_string(frame.removed));
      Expect(frame.stack % 16 == offset, what + ": stack offset");
      for (int i = 0; i < 4; ++i) {
        Expect((frame.kept[i] == kPeSentinels[i]) == (i != row.clobbered),
               what + ": " + kPeKeptNames[i]);
      }
      if (row.callee == SumOfTwo) Expect(result == 42 && frame.result == 42, what + ": eax");
    }
    PeCallFrame frame = {};
    frame.target = Address(StackAtCall);
    frame.args = kArgs;
    frame.count = 2;
    frame.offset = offset;
    Expect(PeCheckedCall(&frame) == frame.stack && frame.stack % 16 == offset,
           "the callee sees the stack at offset " + std::to_string(offset));
  }
}

// Runs PeCheckedCallOrAbort on `callee` in a child and returns what it printed, or "" when it
// did not abort.
std::string AbortMessage(uint32_t (*callee)(uint32_t, uint32_t), uint32_t offset) {
  int pipes[2];
  if (pipe(pipes) != 0) return "";
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    dup2(pipes[1], 2);
    PeCheckedCallOrAbort("test.dll", offset, Address(callee), "Callee", kArgs, 2);
    _exit(0);
  }
  close(pipes[1]);
  std::string message;
  char buffer[256];
  ssize_t got;
  while ((got = read(pipes[0], buffer, sizeof buffer)) > 0) {
    message.append(buffer, static_cast<size_t>(got));
  }
  close(pipes[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT ? message : "";
}

void BreachesAreReportedByName() {
  struct Row {
    uint32_t (*callee)(uint32_t, uint32_t);
    uint32_t offset;
    const char* names;  // what the report must say
  };
  const Row rows[] = {
      {RemovesFour, 4, "removed 4 bytes of arguments, not 8"},
      {RemovesNone, 8, "removed 0 bytes of arguments, not 8"},
      {ClobbersEbx, 12, "did not keep ebx"},
      {ClobbersEsi, 0, "did not keep esi"},
      {ClobbersEdi, 4, "did not keep edi"},
      {ClobbersEbp, 8, "did not keep ebp"},
  };
  for (const Row& row : rows) {
    std::string message = AbortMessage(row.callee, row.offset);
    const std::string where = "test.dll!Callee at stack offset " + std::to_string(row.offset);
    Expect(message.find(where) != std::string::npos && message.find(row.names) != std::string::npos,
           std::string("report of '") + row.names + "': " + message);
  }
  Expect(AbortMessage(SumOfTwo, 4).empty(), "a callee that keeps the rules goes unreported");
}

void MappedAwayFromItsBaseWithBothLookups(const char* path) {
  std::string error;
  PeModule* module = LoadPeModule(path, 4, &error);
  Expect(module != nullptr, "loads: " + error);
  if (module == nullptr) return;
  Expect(PeLoadBase(module) != PePreferredBase(module), "mapped away from its preferred base");
  const char* names[] = {"GetPicture", "GetPreview", "GetPictureInfo", "GetPluginInfo",
                         "IsSupported"};
  for (uint32_t ordinal = 1; ordinal <= 5; ++ordinal) {
    const uint32_t byName = PeExportByName(module, names[ordinal - 1]);
    Expect(byName != 0 && byName == PeExportByOrdinal(module, ordinal),
           std::string(names[ordinal - 1]) + " by name and by ordinal");
  }
  Expect(PeExportByOrdinal(module, 0) == 0 && PeExportByOrdinal(module, 6) == 0,
         "no ordinals outside 1 to 5");
  Expect(PeExportByName(module, "GetPictur") == 0 && PeExportByName(module, "DllEntry") == 0,
         "no other names");
  UnloadPeModule(module);
}

std::vector<unsigned char> ReadBytes(const char* path) {
  std::vector<unsigned char> bytes;
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return bytes;
  int c;
  while ((c = fgetc(file)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
  fclose(file);
  return bytes;
}

// Replaces every `from` in `bytes` by `to` (of the same length); returns how many there were.
size_t Replace(std::vector<unsigned char>* bytes, const std::string& from, const std::string& to) {
  size_t found = 0;
  for (size_t at = 0; at + from.size() <= bytes->size(); ++at) {
    if (memcmp(&(*bytes)[at], from.data(), from.size()) == 0) {
      memcpy(&(*bytes)[at], to.data(), to.size());
      ++found;
    }
  }
  return found;
}

// Loads `bytes` as a DLL and returns the error, or "loaded".
std::string LoadBytes(const std::vector<unsigned char>& bytes) {
  char path[] = "/tmp/spiqlm-pe-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return "cannot write a copy";
  bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  std::string error;
  PeModule* module = written ? LoadPeModule(path, 0, &error) : nullptr;
  if (module != nullptr) {
    UnloadPeModule(module);
    error = "loaded";
  }
  remove(path);
  return error;
}

void RefusesWhatItCannotProvide(const char* path) {
  const std::vector<unsigned char> dll = ReadBytes(path);
  Expect(LoadBytes(dll) == "loaded", "the DLL itself loads");
  struct Row {
    std::string from, to, error;
  };
  const Row rows[] = {
      {std::string("strncpy\0", 8), std::string("strncpz\0", 8),
       "unprovided import msvcrt.dll!strncpz"},
      {"LocalLock", "LocalLocx", "unprovided import KERNEL32.dll!LocalLocx"},
      {"KERNEL32.dll", "KERNEL64.dll", "unprovided import KERNEL64.dll!"},
      {"MZ", "ZM", "not a PE file"},
      // The entry point, mov $1, %eax; ret $12, answering FALSE instead.
      {std::string("\xB8\x01\x00\x00\x00\xC2\x0C\x00", 8),
       std::string("\xB8\x00\x00\x00\x00\xC2\x0C\x00", 8),
       "the entry point refused DLL_PROCESS_ATTACH"},
  };
  for (const Row& row : rows) {
    std::vector<unsigned char> copy = dll;
    const size_t found = Replace(&copy, row.from, row.to);
    const std::string error = LoadBytes(copy);
    Expect(found >= 1 && error.find(row.error) != std::string::npos,
           "refused with '" + row.error + "': " + error);
  }
  // .text gains the write flag: the top bit of the characteristics, 36 bytes into its header.
  std::vector<unsigned char> copy = dll;
  const std::string text(".text\0\0\0", 8);
  size_t header = 0;
  while (header + 40 <= copy.size() && memcmp(&copy[header], text.data(), 8) != 0) ++header;
  Expect(header + 40 <= copy.size() && (copy[header + 39] & 0x20) != 0, "an executable .text");
  if (header + 40 > copy.size()) return;
  copy[header + 39] = static_cast<unsigned char>(copy[header + 39] | 0x80);
  const std::string error = LoadBytes(copy);
  Expect(error.find("both writable and executable") != std::string::npos,
         "a writable code section is refused: " + error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: pe_loader_test MODULE\n");
    return 2;
  }
  CheckedCallRecordsWhatTheCalleeDid();
  BreachesAreReportedByName();
  MappedAwayFromItsBaseWithBothLookups(argv[1]);
  RefusesWhatItCannotProvide(argv[1]);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}

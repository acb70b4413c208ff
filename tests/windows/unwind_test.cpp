// A 64-bit host that throws a C++ exception from its progress callback and catches it around
// GetPicture, as C++ viewers do to abandon a decode. Windows then unwinds through the module's
// frames with the module's own unwind data: without it the exception never reaches the catch,
// or arrives with the module's values in the host's registers, and debuggers' and crash
// dumps' stack walks stop at the module.
//
//   unwind_test MODULE
//
// For each case: the callee-saved registers the host set before the call hold the same values
// after the catch; a stack walk from inside the callback passes the module's frame and reaches
// the host's own frames beyond it; afterwards the module still decodes. Prints one line per
// case and ends with "N passed, N failed".
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "host/plugin_loader.h"
#include "tests/conformance/qlm_fixture.h"

namespace {

struct Registers {
  uint64_t general[8];        // rbx, rbp, rdi, rsi, r12, r13, r14, r15
  unsigned char xmm[10][16];  // xmm6 to xmm15
};
static_assert(sizeof(Registers) == 224, "the layout the trampoline uses");

const char* const kRegisterNames[18] = {"rbx",   "rbp",   "rdi",   "rsi",   "r12",   "r13",
                                        "r14",   "r15",   "xmm6",  "xmm7",  "xmm8",  "xmm9",
                                        "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15"};

}  // namespace

extern "C" int RunWithRegisters(const Registers* load, Registers* after, int (*body)(void*),
                                void* context);
extern "C" char RunWithRegistersReturn[];

namespace {

struct ProgressThrown {
  int row;
};

// The decode that body() runs. Everything it needs is here rather than in locals, so that
// body keeps nothing in a callee-saved register of its own across the call, and the registers
// after its catch are what unwinding restored.
struct Decode {
  GetPictureFn getPicture;
  std::vector<unsigned char> image;
  int throwAt;  // row whose progress call throws, or -1
  HLOCAL info, pixels;
  // What the callback saw: the stack walk from inside it.
  std::vector<void*> frames;
  int thrownRow;
} decode;

const int kThrown = 1000;

int WINAPI ThrowingProgress(int numerator, int /*denominator*/, long /*lData*/) {
  if (numerator != decode.throwAt) return 0;
  void* frames[64];
  USHORT count = RtlCaptureStackBackTrace(0, 64, frames, nullptr);
  decode.frames.assign(frames, frames + count);
  decode.thrownRow = numerator;
  throw ProgressThrown{numerator};
}

int Body(void* /*context*/) {
  try {
    return decode.getPicture(reinterpret_cast<char*>(decode.image.data()),
                             static_cast<long>(decode.image.size()), 1, &decode.info,
                             &decode.pixels, ThrowingProgress, 0);
  } catch (const ProgressThrown&) {
    return kThrown;
  }
}

Registers Pattern(unsigned seed) {
  Registers r;
  for (unsigned i = 0; i < 8; ++i) {
    r.general[i] = 0x5A00000000000000ull ^ (uint64_t{seed} << 40) ^ (0x0101010101ull * (i + 1));
  }
  for (unsigned i = 0; i < 10; ++i) {
    for (unsigned b = 0; b < 16; ++b) {
      r.xmm[i][b] = static_cast<unsigned char>(seed * 31 + i * 16 + b);
    }
  }
  return r;
}

std::string Mismatches(const Registers& want, const Registers& got) {
  std::string names;
  for (int i = 0; i < 8; ++i) {
    if (want.general[i] != got.general[i]) names += std::string(" ") + kRegisterNames[i];
  }
  for (int i = 0; i < 10; ++i) {
    if (memcmp(want.xmm[i], got.xmm[i], 16) != 0) names += std::string(" ") + kRegisterNames[8 + i];
  }
  return names;
}

bool Within(void* address, const void* start, size_t size) {
  uintptr_t a = reinterpret_cast<uintptr_t>(address), s = reinterpret_cast<uintptr_t>(start);
  return a >= s && a < s + size;
}

size_t ImageSize(HMODULE module) {
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(module) +
                                                       dos->e_lfanew);
  return nt->OptionalHeader.SizeOfImage;
}

// From the callback the walk must pass the module's frames and go on with exactly the host's
// frames beyond them: the return address into body(), then the one into the trampoline. A
// walker that meets a frame without unwind data may take any stack word for a return address
// and scan on, so reaching the trampoline somewhere later is not enough.
std::string CheckWalk(HMODULE module, HMODULE host) {
  const size_t moduleSize = ImageSize(module), hostSize = ImageSize(host);
  const std::vector<void*>& frames = decode.frames;
  size_t i = 0;
  while (i < frames.size() && !Within(frames[i], module, moduleSize)) ++i;
  if (i == frames.size()) {
    return "the stack walk (" + std::to_string(frames.size()) + " frames) never reaches the module";
  }
  while (i < frames.size() && Within(frames[i], module, moduleSize)) ++i;
  if (i + 1 < frames.size() && Within(frames[i], host, hostSize) &&
      frames[i + 1] == static_cast<void*>(RunWithRegistersReturn)) {
    return "";
  }
  char seen[64];
  snprintf(seen, sizeof seen, "%p", i < frames.size() ? frames[i] : nullptr);
  return std::string("the stack walk leaves the module for ") + seen + ", not the host's caller";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: unwind_test MODULE\n");
    return 2;
  }
  SpiPlugin plugin;
  std::string error;
  if (!LoadPlugin(argv[1], Lookup::kByName, &plugin, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  HMODULE module = static_cast<HMODULE>(plugin.module);
  decode.getPicture = plugin.GetPicture;
  decode.image = fixture::MakeQlm(37, 5);

  struct Row {
    const char* name;
    int throwAt;
  };
  // The first row runs the callback before any other; the last, after every row is converted.
  const Row rows[] = {
      {"no throw", -1}, {"throw at the first row", 0}, {"throw at the last row", 4}};
  int passed = 0, failed = 0;
  unsigned seed = 1;
  for (const Row& row : rows) {
    decode.throwAt = row.throwAt;
    decode.frames.clear();
    decode.thrownRow = -1;
    decode.info = decode.pixels = nullptr;
    const Registers load = Pattern(seed++);
    Registers after;
    memset(&after, 0, sizeof after);
    const int result = RunWithRegisters(&load, &after, Body, nullptr);

    std::string problems;
    const int want = row.throwAt < 0 ? 0 : kThrown;
    if (result != want) {
      problems += " GetPicture gave " + std::to_string(result) + ", want " + std::to_string(want);
    }
    std::string changed = Mismatches(load, after);
    if (!changed.empty()) problems += " registers changed:" + changed;
    if (row.throwAt >= 0) {
      std::string walk = CheckWalk(module, GetModuleHandleA(nullptr));
      if (!walk.empty()) problems += " " + walk;
    }
    // Blocks of a decode abandoned by the throw stay the module's: they are lost, as in any
    // host that unwinds through it. A finished decode's are the host's.
    if (result == 0) {
      LocalFree(decode.info);
      LocalFree(decode.pixels);
    }
    printf("%s %s%s\n", problems.empty() ? "ok  " : "FAIL", row.name, problems.c_str());
    (problems.empty() ? passed : failed)++;
  }

  // The module and the host both carry on.
  HLOCAL info = nullptr, pixels = nullptr;
  const int again =
      decode.getPicture(reinterpret_cast<char*>(decode.image.data()),
                        static_cast<long>(decode.image.size()), 1, &info, &pixels, nullptr, 0);
  printf("%s decode after the throws gave %d\n", again == 0 ? "ok  " : "FAIL", again);
  (again == 0 ? passed : failed)++;
  if (again == 0) {
    LocalFree(info);
    LocalFree(pixels);
  }
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

#include "host/qlm_input.h"

#include "host/console.h"
#include "host/exit_codes.h"

namespace {

const int kHeaderBytes = 4;
const int kMaxSide = 512;

std::string TooLarge(const std::string& size) {
  return "file is " + size + " bytes; the largest QLM image (512 x 512) is " +
         Thousands(kLargestQlmFile) + " bytes";
}

}  // namespace

std::string WhyNotQlm(uint64_t size, const std::vector<unsigned char>& head) {
  unsigned width = head.size() < kHeaderBytes ? 0 : unsigned(head[0]) << 8 | head[1];
  unsigned height = head.size() < kHeaderBytes ? 0 : unsigned(head[2]) << 8 | head[3];
  bool header = head.size() >= kHeaderBytes && width <= kMaxSide && height <= kMaxSide;
  // A readable header tells by how much a large file misses; any other is measured against
  // the largest image.
  if (size > kLargestQlmFile && !header) return TooLarge(Thousands(size));
  if (size < kHeaderBytes || head.size() < kHeaderBytes) {
    return "file is " + Thousands(size) + " bytes; a QLM image has at least its 4-byte header";
  }
  std::string dimensions = Thousands(width) + " x " + Thousands(height);
  if (!header) return "header says " + dimensions + "; the largest is 512 x 512";
  uint64_t expected = kHeaderBytes + 2ull * width * height;
  if (size == expected) return "";
  const std::string off =
      size < expected
          ? "truncated"
          : Thousands(size - expected) + (size - expected == 1 ? " byte" : " bytes") + " too many";
  return "file is " + Thousands(size) + " bytes; a " + dimensions + " QLM image is " +
         Thousands(expected) + " bytes (" + off + ")";
}

int OpenQlmSource(const std::string& name, bool memory, QlmSource* source) {
  *source = QlmSource{};
  std::string why;
  if (!OpenInput(name, &source->input, &why)) return Fail(kExitCannotOpen, name, why);
  source->size = source->input.size;
  source->why = name == "-"              ? InMemory::kStandardInput
                : !source->input.regular ? InMemory::kStream
                : memory                 ? InMemory::kAsked
                                         : InMemory::kNo;
#ifdef _WIN32
  // The plug-in's calls take names in the system code page; others go in memory.
  if (source->why == InMemory::kNo && !AnsiName(name, &source->moduleName)) {
    source->why = InMemory::kNameNotAnsi;
  }
#else
  if (source->why == InMemory::kNo) source->moduleName = name;
#endif
  source->memory = source->why != InMemory::kNo;
  if (source->input.regular && source->size > kLargestQlmFile) {
    source->tooLarge = WhyRejected(source);
    return kExitNotQlm;
  }
  if (!source->memory) return kExitOk;
  switch (ReadAll(&source->input, kLargestQlmFile, &source->bytes, &why)) {
    case ReadResult::kRead:
      source->size = source->bytes.size();
      return kExitOk;
    case ReadResult::kTooLarge:
      // Its first bytes stay, for what a viewer passing them would be told.
      source->size = source->bytes.size();
      source->tooLarge = TooLarge("more than " + Thousands(kLargestQlmFile));
      return kExitNotQlm;
    case ReadResult::kFailed:
    case ReadResult::kRefused:  // not asked for: no check is given
      break;
  }
  return Fail(kExitCannotOpen, name, "cannot read: " + why);
}

PluginArguments ArgumentsFor(QlmSource* source) {
  if (!source->memory) return PluginArguments{&source->moduleName[0], 0, 0};
  // An empty file still needs an address; its length says nothing is there.
  static char nothing = 0;
  char* bytes = source->bytes.empty() ? &nothing : reinterpret_cast<char*>(source->bytes.data());
  return PluginArguments{bytes, static_cast<long>(source->bytes.size()), 1};
}

std::vector<unsigned char> HeadOf(QlmSource* source, size_t count) {
  if (!source->input.regular) {
    size_t have = source->bytes.size() < count ? source->bytes.size() : count;
    return std::vector<unsigned char>(source->bytes.begin(),
                                      source->bytes.begin() + static_cast<ptrdiff_t>(have));
  }
  std::vector<unsigned char> head;
  std::string why;
  if (!ReadStart(&source->input, count, &head, &why)) head.clear();
  return head;
}

std::string WhyRejected(QlmSource* source) {
  return WhyNotQlm(source->size, HeadOf(source, kHeaderBytes));
}

void CloseQlmSource(QlmSource* source) {
  CloseInput(&source->input);
}

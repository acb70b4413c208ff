// check: whether each file is a QLM image the plug-in decodes, validated as decode would, and
// what the plug-in answers when a viewer asks it, in plain words.
#include "host/commands.h"
#include "host/console.h"
#include "host/exit_codes.h"
#include "host/interrupt.h"
#include "host/qlm_input.h"

namespace {

// Viewers hand IsSupported a buffer of this size, whatever the file's size.
const size_t kViewerHeadBytes = 2048;

std::string Offered(int answer) {
  return answer == 1 ? "would offer it to this plug-in (IsSupported: yes)"
                     : "would not offer it to this plug-in (IsSupported: no)";
}

struct Answers {
  int byName = -1;  // -1: not asked
  int byHead = 0;
  bool whole = false;  // GetPictureInfo and GetPicture asked
  int info = 0;
  PictureInfo picture{};
  int decode = 0;
  unsigned headWidth = 0, headHeight = 0;  // the header as the padded head gives it
};

// Asks what a viewer would; `whole` also hands the plug-in the file to read and decode, which
// an input larger than any QLM file never is.
Answers Ask(const SpiPlugin& plugin, QlmSource* source, bool whole) {
  Answers answers;
  std::vector<unsigned char> head = HeadOf(source, kViewerHeadBytes);
  head.resize(kViewerHeadBytes, 0);
  answers.headWidth = unsigned(head[0]) << 8 | head[1];
  answers.headHeight = unsigned(head[2]) << 8 | head[3];
  char* name = &source->moduleName[0];
  // A small handle value says "no head bytes": the plug-in opens the file by its name.
  if (!source->memory) answers.byName = plugin.IsSupported(name, 0);
  answers.byHead = plugin.IsSupported(name, reinterpret_cast<uintptr_t>(head.data()));
  if (!whole) return answers;
  answers.whole = true;
  const PluginArguments call = ArgumentsFor(source);
  answers.info = plugin.GetPictureInfo(call.from, call.length, call.flags, &answers.picture);
  HLOCAL info = nullptr, pixels = nullptr;
  BeginCancellable();
  answers.decode =
      plugin.GetPicture(call.from, call.length, call.flags, &info, &pixels, OnProgress, 0);
  EndCancellable();
  if (info != nullptr) plugin.LocalFree(info);
  if (pixels != nullptr) plugin.LocalFree(pixels);
  if (PendingSignal() != 0) EndByPendingSignal();
  return answers;
}

const char* NotByName(InMemory why) {
  switch (why) {
    case InMemory::kStandardInput:
      return "standard input has no name the plug-in can open";
    case InMemory::kStream:
      return "its bytes can be read once only, so they are handed over in memory";
    case InMemory::kNameNotAnsi:
      return "its name cannot be written in the system code page, which the plug-in's names "
             "use, so the file is handed over in memory";
    case InMemory::kAsked:
    case InMemory::kNo:
      break;
  }
  return "the file is handed over in memory, as --memory asks";
}

void Explain(const Answers& answers, const QlmSource& source) {
  if (answers.byName >= 0) {
    Print("  a viewer asking by the file's name %s\n", Offered(answers.byName).c_str());
  } else {
    Print("  (not asked by name: %s)\n", NotByName(source.why));
  }
  if (source.size >= kViewerHeadBytes) {
    Print("  a viewer passing its first 2,048 bytes %s\n", Offered(answers.byHead).c_str());
  } else {
    // What a viewer passes for a short file: its bytes, then zeros to the buffer's end.
    Print("  a viewer passing its first 2,048 bytes (its %s, then zeros) %s\n",
          source.size == 1 ? "1 byte" : (Thousands(source.size) + " bytes").c_str(),
          Offered(answers.byHead).c_str());
    if (source.size < 4 && answers.byHead == 1) {
      Print(
          "  (with the zeros its header reads as %u x %u; decoding then refuses the file on "
          "its size)\n",
          answers.headWidth, answers.headHeight);
    }
  }
  if (!answers.whole) {
    Print("  (not handed to GetPictureInfo or GetPicture: it is larger than any QLM image)\n");
    return;
  }
  if (answers.info == kSpiOk) {
    Print("  the plug-in reads its header as %d x %d, %d bits per pixel (GetPictureInfo: 0)\n",
          answers.picture.width, answers.picture.height, answers.picture.colorDepth);
  } else {
    Print("  the plug-in cannot read its header (GetPictureInfo: %d, %s)\n", answers.info,
          SpiResultText(answers.info));
  }
  if (answers.decode == kSpiOk) {
    Print("  the plug-in decodes it (GetPicture: 0)\n");
  } else {
    Print("  the plug-in refuses to decode it (GetPicture: %d, %s)\n", answers.decode,
          SpiResultText(answers.decode));
  }
}

int CheckOne(const SpiPlugin& plugin, const Options& options, const std::string& name) {
  QlmSource source;
  int code = OpenQlmSource(name, options.memory, &source);
  if (code != kExitOk && source.tooLarge.empty()) {
    CloseQlmSource(&source);
    return code;
  }
  bool whole = source.tooLarge.empty();
  Answers answers = Ask(plugin, &source, whole);
  std::string why = whole ? WhyRejected(&source) : source.tooLarge;
  CloseQlmSource(&source);
  if (whole && answers.decode == kSpiOk) {
    Print("%s: a QLM image, %d x %d; decode would read it\n", name.c_str(), answers.picture.width,
          answers.picture.height);
    code = kExitOk;
  } else if (!whole || answers.decode == kSpiNotQlm) {
    Print("%s: not a QLM image; decode would refuse it: %s\n", name.c_str(),
          why.empty() ? "the plug-in refuses it" : why.c_str());
    code = kExitNotQlm;
  } else {
    bool memoryShort = answers.decode == kSpiOutOfMemory;
    Print("%s: decode would refuse it: %s\n", name.c_str(),
          memoryShort                        ? "the plug-in runs out of memory"
          : answers.decode == kSpiCannotOpen ? "the plug-in cannot open the file"
                                             : "the plug-in refuses it");
    code = memoryShort                        ? kExitOutOfMemory
           : answers.decode == kSpiCannotOpen ? kExitCannotOpen
                                              : kExitNotQlm;
  }
  Explain(answers, source);
  return code;
}

}  // namespace

int RunCheck(const Options& options) {
  SpiPlugin plugin;
  std::string path;
  if (!LoadPluginOrSay(options, &plugin, &path)) return kExitCannotLoadPlugin;
  int first = kExitOk;
  for (const std::string& name : options.inputs) {
    int code = CheckOne(plugin, options, name);
    if (first == kExitOk) first = code;
  }
  UnloadPlugin(&plugin);
  return first;
}

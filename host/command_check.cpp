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
  int info = 0;
  PictureInfo picture{};
  int decode = 0;
};

Answers Ask(const SpiPlugin& plugin, QlmSource* source) {
  Answers answers;
  std::vector<unsigned char> head = HeadOf(source, kViewerHeadBytes);
  head.resize(kViewerHeadBytes, 0);
  std::vector<char> name(source->moduleName.begin(), source->moduleName.end());
  name.push_back('\0');
  std::vector<unsigned char> bytes = source->bytes;
  long length = static_cast<long>(bytes.size());  // at most kLargestQlmFile
  bytes.push_back(0);                             // a valid address even when empty
  char* from = source->memory ? reinterpret_cast<char*>(bytes.data()) : name.data();
  unsigned flags = source->memory ? 1u : 0u;
  // A small handle value says "no head bytes": the plug-in opens the file by its name.
  if (!source->memory) answers.byName = plugin.IsSupported(name.data(), 0);
  answers.byHead = plugin.IsSupported(name.data(), reinterpret_cast<uintptr_t>(head.data()));
  answers.info = plugin.GetPictureInfo(from, length, flags, &answers.picture);
  HLOCAL info = nullptr, pixels = nullptr;
  BeginCancellable();
  answers.decode = plugin.GetPicture(from, length, flags, &info, &pixels, OnProgress, 0);
  EndCancellable();
  if (info != nullptr) plugin.LocalFree(info);
  if (pixels != nullptr) plugin.LocalFree(pixels);
  if (PendingSignal() != 0) EndByPendingSignal();
  return answers;
}

void Explain(const Answers& answers, bool stream) {
  if (answers.byName >= 0) {
    Print("  a viewer asking by the file's name %s\n", Offered(answers.byName).c_str());
  } else {
    Print("  (not asked by name: %s)\n", stream ? "a pipe or stream has no name it can open"
                                                : "the file is handed over in memory");
  }
  Print("  a viewer passing its first 2,048 bytes %s\n", Offered(answers.byHead).c_str());
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
  if (code != kExitOk) {
    CloseQlmSource(&source);
    return code;
  }
  Answers answers = Ask(plugin, &source);
  std::string why = WhyRejected(&source);
  CloseQlmSource(&source);
  if (answers.decode == kSpiOk) {
    Print("%s: a QLM image, %d x %d; decode would read it\n", name.c_str(), answers.picture.width,
          answers.picture.height);
    code = kExitOk;
  } else {
    Print("%s: not a QLM image decode can read: %s\n", name.c_str(),
          why.empty() ? "the plug-in refuses it" : why.c_str());
    code = answers.decode == kSpiOutOfMemory  ? kExitOutOfMemory
           : answers.decode == kSpiCannotOpen ? kExitCannotOpen
                                              : kExitNotQlm;
  }
  Explain(answers, !source.input.regular);
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

// decode: QLM files through the plug-in into BMP, PNG or PPM files.
#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "host/commands.h"
#include "host/console.h"
#include "host/exit_codes.h"
#include "host/interrupt.h"
#include "host/pictures.h"
#include "host/program_location.h"
#include "host/qlm_input.h"

namespace {

struct Blocks {
  HLOCAL info = nullptr;
  HLOCAL pixels = nullptr;
};

void FreeBlocks(const SpiPlugin& plugin, Blocks* blocks) {
  if (blocks->info != nullptr) plugin.LocalFree(blocks->info);
  if (blocks->pixels != nullptr) plugin.LocalFree(blocks->pixels);
  *blocks = Blocks{};
}

// The format from --format or the output's name. A name with an extension not ours, or one
// that disagrees with --format, would be a mislabelled file: refused. The name of an output
// written through (a FIFO, a device, standard output) says nothing of what it holds.
int ChooseFormat(const Options& options, const OutputPlan& plan, ImageFormat* format) {
  *format = ImageFormat::kBmp;
  bool given = !options.format.empty() && FormatForWord(options.format, format);
  const std::string& name = plan.name;
  bool regular = plan.way == OutputWay::kCreate || plan.way == OutputWay::kReplace;
  if (!regular || ExtensionOf(name).empty()) return kExitOk;
  ImageFormat named;
  if (!FormatForName(name, &named)) {
    return Fail(kExitUsage, name,
                "decode writes .bmp, .png, .ppm and .pnm files, not ." + ExtensionOf(name) +
                    " (--format chooses the format of a name without an extension)");
  }
  if (given && named != *format) {
    return Fail(kExitUsage, name,
                std::string("the name says ") + FormatWord(named) + " but --format says " +
                    FormatWord(*format));
  }
  *format = named;
  return kExitOk;
}

// The plug-in's blocks as a file in `format`, or why not.
int Encoded(const SpiPlugin& plugin, const Blocks& blocks, ImageFormat format,
            const std::string& input, std::vector<unsigned char>* file, std::string* size) {
  const unsigned char* header = static_cast<unsigned char*>(plugin.LocalLock(blocks.info));
  const unsigned char* bits = static_cast<unsigned char*>(plugin.LocalLock(blocks.pixels));
  size_t pixelBytes = plugin.LocalSize(blocks.pixels);
  int code = kExitOk;
  std::string why;
  if (header == nullptr || plugin.LocalSize(blocks.info) < 40 ||
      (bits == nullptr && pixelBytes != 0)) {
    code = Fail(kExitPluginFault, input, "the plug-in returned unusable blocks");
  } else if (!EncodeBitmap(DecodedBitmap{header, bits, pixelBytes}, format, file, &why)) {
    code = Fail(kExitPluginFault, input, why);
  } else {
    int32_t width, height;
    memcpy(&width, header + 4, 4);
    memcpy(&height, header + 8, 4);
    *size = std::to_string(width) + " x " + std::to_string(height < 0 ? -height : height);
  }
  if (header != nullptr) plugin.LocalUnlock(blocks.info);
  if (bits != nullptr) plugin.LocalUnlock(blocks.pixels);
  return code;
}

int Refused(int result, QlmSource* source) {
  const std::string& name = source->input.name;
  switch (result) {
    case kSpiNotQlm: {
      std::string why = WhyRejected(source);
      return Fail(kExitNotQlm, name,
                  "not a QLM image: " + (why.empty() ? "the plug-in refused it" : why));
    }
    case kSpiOutOfMemory:
      return Fail(kExitOutOfMemory, name, "the plug-in ran out of memory");
    case kSpiCannotOpen:
      return Fail(kExitCannotOpen, name, "the plug-in cannot open the file");
    case kSpiCancelled:
      return Fail(kExitPluginFault, name, "the plug-in cancelled the decode unasked");
    default:
      return Fail(kExitPluginFault, name,
                  "the plug-in answered " + std::to_string(result) + ", which it never should");
  }
}

// Runs the plug-in's decode with the progress bar; a stop signal cancels it, and then ends the
// process once the blocks are freed.
int Decode(const SpiPlugin& plugin, const Options& options, QlmSource* source, Blocks* blocks) {
  const PluginArguments call = ArgumentsFor(source);
  StartProgress(!options.quiet && isatty(fileno(stderr)) != 0);
  BeginCancellable();
  int result = plugin.GetPicture(call.from, call.length, call.flags, &blocks->info, &blocks->pixels,
                                 OnProgress, 0);
  EndCancellable();
  EndProgress();
  if (PendingSignal() != 0) {
    FreeBlocks(plugin, blocks);
    EndByPendingSignal();
  }
  return result;
}

int DecodeOne(const SpiPlugin& plugin, const Options& options, const std::string& input,
              bool sample, std::vector<Guarded>* guarded) {
  SetWorkName(input);
  ImageFormat format = ImageFormat::kBmp;
  if (!options.format.empty()) FormatForWord(options.format, &format);
  std::string why;
  std::string output =
      OutputNameFor(options, input, std::string(".") + FormatWord(format), !sample, &why);
  if (output.empty()) return Fail(kExitUsage, input, why);
  QlmSource source;
  int code = OpenQlmSource(input, options.memory, &source);
  if (!source.tooLarge.empty()) code = Fail(code, input, "not a QLM image: " + source.tooLarge);
  OutputPlan plan;
  // Whose file it is comes first: an input is refused whatever its name says.
  if (code == kExitOk) code = PlanOrSay(options, output, *guarded, &plan);
  if (code == kExitOk) code = ChooseFormat(options, plan, &format);
  if (code == kExitOk && format == ImageFormat::kPng && !PngAvailable(&why)) {
    code = Fail(kExitCannotWrite, output, why);
  }
  Blocks blocks;
  int result = code == kExitOk ? Decode(plugin, options, &source, &blocks) : kSpiOk;
  if (code == kExitOk && result != kSpiOk) {
    FreeBlocks(plugin, &blocks);
    code = Refused(result, &source);
  }
  CloseQlmSource(&source);
  if (code != kExitOk) return code;
  std::vector<unsigned char> file;
  std::string size;
  code = Encoded(plugin, blocks, format, input, &file, &size);
  FreeBlocks(plugin, &blocks);
  if (code != kExitOk) return code;
  code = WriteOrSay(plan, file, input, guarded);
  if (code != kExitOk) return code;
  if (!options.quiet && plan.way != OutputWay::kStandardOutput) {
    Print("%s: wrote %s (%s, %s)\n", input.c_str(), output.c_str(), size.c_str(),
          FormatWord(format));
  }
  return kExitOk;
}

}  // namespace

int RunDecode(const Options& options) {
  SpiPlugin plugin;
  std::string pluginPath;
  if (!LoadPluginOrSay(options, &plugin, &pluginPath)) return kExitCannotLoadPlugin;
  bool sample = options.inputs.empty();
  std::vector<std::string> inputs =
      sample ? std::vector<std::string>{DefaultSamplePath()} : options.inputs;
  std::vector<Guarded> guarded = GuardInputs(inputs);
  guarded.push_back(Guarded{FileId{}, ""});
  IdentifyPath(pluginPath, &guarded.back().id);
  guarded.back().what = "the plug-in this command runs";
  int first = kExitOk;
  for (const std::string& input : inputs) {
    int code = DecodeOne(plugin, options, input, sample, &guarded);
    if (first == kExitOk) first = code;
  }
  UnloadPlugin(&plugin);
  return first;
}

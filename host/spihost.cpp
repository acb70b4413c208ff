// spihost: a command-line image-viewer host for import-filter plug-ins, and a QLM writer.
//
// It loads the plug-in module at run time, as a viewer does, and uses its exports to list it,
// ask whether files are supported, show a picture's size and decode it into a .bmp file.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "format/convert_row.h"
#include "host/files.h"
#include "host/pictures.h"
#include "host/plugin_loader.h"

namespace {

const char kVersion[] = "spihost 1.0.0";

// Exit codes. Those of a failed plug-in call equal its result code.
enum Exit {
  kExitOk = 0,
  kExitCancelled = 1,
  kExitNotQlm = 2,
  kExitOutOfMemory = 4,
  kExitCannotOpen = 6,
  kExitCannotLoadPlugin = 8,
  kExitCannotWrite = 9,
  kExitUsage = 10,
  kExitBadInput = 11,     // encode: not a picture we can read, or too large for QLM
  kExitPluginFault = 12,  // the plug-in broke its own contract
};

const char kUsage[] =
    "usage:\n"
    "  spihost info   [--plugin MODULE]\n"
    "  spihost check  [--plugin MODULE] FILE...\n"
    "  spihost decode [--plugin MODULE] [--memory] [-o OUT.bmp] [FILE]\n"
    "  spihost encode [-o OUT.qlm] PICTURE.bmp|PICTURE.ppm\n"
    "  spihost --help | --version\n"
    "\n"
    "info    lists the plug-in's information strings and the pixel conversion path (scalar,\n"
    "        sse2, ssse3 or avx2) this CPU makes the plug-in take.\n"
    "check   asks the plug-in whether each FILE is a picture it reads, by name and by the\n"
    "        file's first 2 KiB, and shows its width, height and depth.\n"
    "decode  decodes FILE (default: the bundled sample) into a 24-bit .bmp, by default next to\n"
    "        FILE; --memory hands the plug-in the whole file in memory instead of its name.\n"
    "        A progress bar shows on stderr when it is a terminal.\n"
    "encode  writes a 24-bit BMP or binary PPM (P6) of at most 512 x 512 as a QLM file, each\n"
    "        channel cut to its top 5 bits; by default next to PICTURE.\n"
    "\n"
    "--plugin MODULE  the plug-in to load (default: the one beside spihost)\n"
    "\n"
    "exit codes:\n"
    "  0  success\n"
    "  1  cancelled\n"
    "  2  not a QLM image: header or size rejected (check: a file is not supported)\n"
    "  4  out of memory\n"
    "  6  cannot open file\n"
    "  8  cannot load the plug-in\n"
    "  9  cannot write the output file\n"
    " 10  usage error\n"
    " 11  encode: the picture cannot be read or is larger than 512 x 512\n"
    " 12  the plug-in broke its interface (an unexpected result or block)\n";

struct Options {
  std::string command;
  std::string plugin;
  std::string output;
  bool memory = false;
  std::vector<std::string> files;
};

int Usage(const std::string& problem) {
  fprintf(stderr, "spihost: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

int Fail(int code, const std::string& file, const std::string& message) {
  fprintf(stderr, "spihost: %s: %s\n", file.c_str(), message.c_str());
  return code;
}

int ExitFor(int result) {
  switch (result) {
    case kSpiCancelled:
      return kExitCancelled;
    case kSpiNotQlm:
      return kExitNotQlm;
    case kSpiOutOfMemory:
      return kExitOutOfMemory;
    case kSpiCannotOpen:
      return kExitCannotOpen;
    default:
      return kExitPluginFault;
  }
}

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string Directory(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// `path` with its extension (if any) replaced.
std::string WithExtension(const std::string& path, const std::string& extension) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return path + extension;
  }
  return path.substr(0, dot) + extension;
}

std::string DefaultSample(const char* argv0) {
  // The build folder sits two levels below the source tree (build/PRESET).
  return Directory(argv0) + "../../samples/logo.qlm";
}

bool LoadOrSay(const Options& options, const char* argv0, SpiPlugin* plugin) {
  std::string path = options.plugin.empty() ? DefaultPluginPath(argv0) : options.plugin;
  std::string error;
  if (LoadPlugin(path, Lookup::kByName, plugin, &error)) return true;
  fprintf(stderr, "spihost: %s\n", error.c_str());
  return false;
}

int RunInfo(const SpiPlugin& plugin) {
  for (int index = 0;; ++index) {
    char text[256];
    int length = plugin.GetPluginInfo(index, text, sizeof text);
    if (length <= 0) break;
    printf("%d: %.*s\n", index, length, text);
  }
  // The module's choice is its own, but it makes it by the same rule from the same CPU.
  printf("pixel conversion path on this CPU: %s\n", ConvertPathName(BestConvertPath()));
  return kExitOk;
}

int RunCheck(const SpiPlugin& plugin, const std::vector<std::string>& files) {
  int worst = kExitOk;
  for (const std::string& file : files) {
    if (!IsRegularFile(file)) {
      worst = Fail(kExitCannotOpen, file, SpiResultText(kSpiCannotOpen));
      continue;
    }
    std::vector<unsigned char> head;
    if (!ReadWholeFile(file, 2048, &head)) {
      worst = Fail(kExitCannotOpen, file, SpiResultText(kSpiCannotOpen));
      continue;
    }
    head.resize(2048, 0);  // viewers pass a 2 KiB buffer whatever the file's size
    std::string name = file;
    // A small handle value says "no head bytes": the plug-in opens the file by name.
    int byName = plugin.IsSupported(&name[0], 0);
    int byHead = plugin.IsSupported(&name[0], reinterpret_cast<uintptr_t>(head.data()));
    PictureInfo info;
    int result = plugin.GetPictureInfo(&name[0], 0, 0, &info);
    if (byName == 1 && byHead == 1 && result == kSpiOk) {
      printf("%s: QLM image, %d x %d, %d bits per pixel\n", file.c_str(), info.width, info.height,
             info.colorDepth);
    } else {
      printf("%s: not supported (by name: %s, by head: %s)\n", file.c_str(),
             byName == 1 ? "yes" : "no", byHead == 1 ? "yes" : "no");
      if (worst == kExitOk) worst = kExitNotQlm;
    }
  }
  return worst;
}

int WINAPI ShowProgress(int numerator, int denominator, long /*lData*/) {
  const int kWidth = 40;
  static int shown = -1;  // the percentage on screen; redrawn only when it changes
  int percent = denominator > 0 ? (numerator + 1) * 100 / denominator : 100;
  if (numerator == 0) shown = -1;
  if (percent != shown) {
    int done = percent * kWidth / 100;
    fprintf(stderr, "\r[%.*s%*s] %3d%%", done, "########################################",
            kWidth - done, "", percent);
    shown = percent;
  }
  if (numerator + 1 == denominator) fputc('\n', stderr);
  return 0;
}

// Takes over the two blocks: writes them as a .bmp if they are what the plug-in promised,
// and frees them whatever happens.
int SaveDecoded(const SpiPlugin& plugin, HLOCAL info, HLOCAL pixels, const std::string& input,
                const std::string& output) {
  int exit = kExitOk;
  const unsigned char* header = static_cast<unsigned char*>(plugin.LocalLock(info));
  const unsigned char* bits = static_cast<unsigned char*>(plugin.LocalLock(pixels));
  size_t pixelBytes = plugin.LocalSize(pixels);
  std::string why;
  if (header == nullptr || plugin.LocalSize(info) < 40 || (bits == nullptr && pixelBytes != 0)) {
    exit = Fail(kExitPluginFault, input, "the plug-in returned unusable blocks");
  } else {
    std::vector<unsigned char> file;
    if (!EncodeBitmap(DecodedBitmap{header, bits, pixelBytes}, ImageFormat::kBmp, &file, &why)) {
      exit = Fail(kExitPluginFault, input, why);
    } else if (!WriteFileAtomically(output, file, &why)) {
      exit = Fail(kExitCannotWrite, output, "cannot write output: " + why);
    }
  }
  if (header != nullptr) plugin.LocalUnlock(info);
  if (bits != nullptr) plugin.LocalUnlock(pixels);
  plugin.LocalFree(info);
  plugin.LocalFree(pixels);
  return exit;
}

int RunDecode(const SpiPlugin& plugin, const Options& options, const std::string& input) {
  if (!IsRegularFile(input)) return Fail(kExitCannotOpen, input, SpiResultText(kSpiCannotOpen));
  std::string output = options.output.empty() ? WithExtension(input, ".bmp") : options.output;
  std::vector<unsigned char> image;
  std::string name = input;
  char* source = &name[0];
  long length = 0;
  unsigned int flags = 0;
  if (options.memory) {
    if (!ReadWholeFile(input, 0, &image)) {
      return Fail(kExitCannotOpen, input, SpiResultText(kSpiCannotOpen));
    }
    length = static_cast<long>(image.size());
    if (image.empty()) image.push_back(0);  // a valid address; the length says 0
    source = reinterpret_cast<char*>(image.data());
    flags = 1;
  }
  bool terminal = isatty(fileno(stderr)) != 0;
  HLOCAL info = nullptr;
  HLOCAL pixels = nullptr;
  int result = plugin.GetPicture(source, length, flags, &info, &pixels,
                                 terminal ? ShowProgress : nullptr, 0);
  if (result != kSpiOk && result != kSpiCancelled) {
    return Fail(ExitFor(result), input, SpiResultText(result));
  }
  if (result == kSpiCancelled) {
    plugin.LocalFree(info);
    plugin.LocalFree(pixels);
    return Fail(kExitCancelled, input, SpiResultText(result));
  }
  int exit = SaveDecoded(plugin, info, pixels, input, output);
  if (exit == kExitOk) printf("%s: wrote %s\n", input.c_str(), output.c_str());
  return exit;
}

int RunEncode(const Options& options) {
  if (options.files.size() != 1) return Usage("encode takes one picture");
  const std::string& input = options.files[0];
  if (!IsRegularFile(input)) return Fail(kExitCannotOpen, input, SpiResultText(kSpiCannotOpen));
  Picture picture;
  std::string why;
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(input, 0, &bytes)) {
    return Fail(kExitBadInput, input, "cannot read file");
  }
  if (!ReadPicture(bytes.data(), bytes.size(), &picture, &why)) {
    return Fail(kExitBadInput, input, why);
  }
  if (picture.width > 512 || picture.height > 512) {
    return Fail(kExitBadInput, input,
                "picture is " + std::to_string(picture.width) + " x " +
                    std::to_string(picture.height) + "; a QLM image holds at most 512 x 512");
  }
  std::string output = options.output.empty() ? WithExtension(input, ".qlm") : options.output;
  if (!WriteFileAtomically(output, EncodeQlm(picture, false), &why)) {
    return Fail(kExitCannotWrite, output, "cannot write output: " + why);
  }
  printf("%s: wrote %s (%d x %d)\n", input.c_str(), output.c_str(), picture.width, picture.height);
  return kExitOk;
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* problem) {
  options->command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--plugin" || arg == "-o") && i + 1 < argc) {
      (arg == "-o" ? options->output : options->plugin) = argv[++i];
    } else if (arg == "--memory") {
      options->memory = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      *problem = "unknown option " + arg;
      return false;
    } else {
      options->files.push_back(arg);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    printf("%s", kUsage);
    return kExitOk;
  }
  if (first == "--version") {
    printf("%s\n", kVersion);
    return kExitOk;
  }
  Options options;
  std::string problem;
  if (!ParseOptions(argc, argv, &options, &problem)) return Usage(problem);
  if (options.command == "encode") return RunEncode(options);
  if (options.command != "info" && options.command != "check" && options.command != "decode") {
    return Usage("unknown command " + options.command);
  }
  if (options.command == "check" && options.files.empty()) return Usage("check needs a FILE");
  if (options.command == "decode" && options.files.size() > 1) {
    return Usage("decode takes one FILE");
  }
  SpiPlugin plugin;
  if (!LoadOrSay(options, argv[0], &plugin)) return kExitCannotLoadPlugin;
  int exit;
  if (options.command == "info") {
    exit = RunInfo(plugin);
  } else if (options.command == "check") {
    exit = RunCheck(plugin, options.files);
  } else {
    exit = RunDecode(plugin, options,
                     options.files.empty() ? DefaultSample(argv[0]) : options.files[0]);
  }
  UnloadPlugin(&plugin);
  return exit;
}

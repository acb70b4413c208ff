// spihost: a command-line image-viewer host for import-filter plug-ins, and a QLM writer.
//
// It loads the plug-in module at run time, as a viewer does, and uses its exports to list it,
// check files and decode them into BMP, PNG or PPM files; encode writes QLM files. The road of
// each command is in command_line.cpp and its own command_*.cpp.
#include <stdio.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "host/command_line.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/exit_codes.h"
#include "host/files.h"
#include "host/interrupt.h"

namespace {

// The arguments after the program's name, in UTF-8: on Windows from the wide command line,
// so names in any language arrive whole.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide != nullptr && i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
#else
  return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

int Run(const Options& options) {
  switch (options.command) {
    case Command::kInfo:
      return RunInfo(options);
    case Command::kCheck:
      return RunCheck(options);
    case Command::kDecode:
      return RunDecode(options);
    case Command::kEncode:
      return RunEncode(options);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Pictures and QLM files pass through the standard streams byte for byte.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  InstallInterruptHandlers();
  Options options;
  int exit = ParseCommandLine(Arguments(argc, argv), &options);
  if (exit < 0) exit = Run(options);
  if (!FinishStandardOutput() && exit == kExitOk) exit = kExitCannotWrite;
  return exit;
}

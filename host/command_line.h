// spihost's command line: the four commands, their options, and the text of --help.
//
// Parsing comes from CLI11, so per-command --help, "--" and a missing value behave as in other
// tools; each usage error is one line naming the command, with a hint to its --help.
#ifndef SPIQLM_HOST_COMMAND_LINE_H
#define SPIQLM_HOST_COMMAND_LINE_H

#include <string>
#include <vector>

enum class Command { kInfo, kCheck, kDecode, kEncode };

struct Options {
  Command command = Command::kInfo;
  std::string plugin;               // empty: the module installed with spihost
  std::vector<std::string> inputs;  // "-" is standard input
  std::string output;               // -o; "-" is standard output
  std::string folder;               // -d: the outputs' folder
  std::string format;               // --format word; empty: by the output's name
  bool memory = false;
  bool force = false;
  bool quiet = false;
  bool dither = false;
  bool fit = false;
};

// Fills `*options` from the arguments after the program name (UTF-8 on every system). Returns
// -1 when a command is to run; otherwise the exit code, having printed the help, the version or
// the usage error.
int ParseCommandLine(const std::vector<std::string>& arguments, Options* options);

#endif  // SPIQLM_HOST_COMMAND_LINE_H

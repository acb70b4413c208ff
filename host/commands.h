// The four commands of spihost, and what they share: loading the plug-in, naming and guarding
// outputs. Each command prints its results and failures and returns the exit code.
#ifndef SPIQLM_HOST_COMMANDS_H
#define SPIQLM_HOST_COMMANDS_H

#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/output_file.h"
#include "host/plugin_loader.h"

int RunInfo(const Options& options);
int RunCheck(const Options& options);
int RunDecode(const Options& options);
int RunEncode(const Options& options);

// Loads --plugin or the default module, and names in `*path` the file loaded (found as
// PluginPathFor says); on failure prints why (the system's message, and what the file is when
// it is not a module this program loads) and returns false.
bool LoadPluginOrSay(const Options& options, SpiPlugin* plugin, std::string* path);

// The inputs of the command, which no output may replace. Inputs that cannot be opened are
// left out: they fail on their own.
std::vector<Guarded> GuardInputs(const std::vector<std::string>& inputs);

// The output for `input`: -o, else in -d's folder or beside the input, its extension replaced
// by `extension` (".bmp"). Empty, with `*why`, when there is no name to make one from.
std::string OutputNameFor(const Options& options, const std::string& input,
                          const std::string& extension, bool besideInput, std::string* why);

// The extension of an output's name, without its dot; empty when it has none. A name that is
// all extension (".png") has one: a file named so would be taken for one of that kind.
std::string ExtensionOf(const std::string& name);

// Plans the output and says why it is refused; returns 0 or the exit code.
int PlanOrSay(const Options& options, const std::string& name, const std::vector<Guarded>& guarded,
              OutputPlan* plan);

// Writes the planned output for `input` and notes it, so that a later input of the same command
// cannot replace it; says why it cannot be written. Returns 0 or the exit code.
int WriteOrSay(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
               const std::string& input, std::vector<Guarded>* guarded);

#endif  // SPIQLM_HOST_COMMANDS_H

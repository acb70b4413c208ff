#include "host/command_line.h"

#include <stdio.h>

#include <algorithm>

#include <CLI/CLI.hpp>

#include "format/convert_row.h"
#include "host/exit_codes.h"
#include "host/pictures.h"

namespace {

// The project's version, which the Windows version resource carries too.
const char kVersion[] = "spihost " SPIQLM_VERSION;

const char* CommandWord(Command command) {
  switch (command) {
    case Command::kInfo:
      return "info";
    case Command::kCheck:
      return "check";
    case Command::kDecode:
      return "decode";
    case Command::kEncode:
      return "encode";
  }
  return "";
}

// Every path the conversion code has, from its own list, so --help cannot fall behind it.
std::string ConversionPaths() {
  std::string names;
  for (int path = kConvertPathScalar; path <= kConvertPathAvx512; ++path) {
    if (!names.empty()) names += ", ";
    names += ConvertPathName(static_cast<ConvertPath>(path));
  }
  return names;
}

const char kSynopsis[] =
    "usage:\n"
    "  spihost info   [--plugin MODULE]\n"
    "  spihost check  [--plugin MODULE] [--memory] FILE...\n"
    "  spihost decode [--plugin MODULE] [--memory] [-o OUT | -d DIR] [-f] [-q]\n"
    "                 [--format bmp|png|ppm] [FILE...]\n"
    "  spihost encode [-o OUT.qlm | -d DIR] [-f] [-q] [--dither] [--fit] PICTURE...\n"
    "  spihost COMMAND --help\n"
    "\n";

// The end of each help: what applies to that command (kAll: the program's own help).
enum class Topic { kAll, kInfo, kCheck, kDecode, kEncode };

std::string Footer(Topic topic) {
  bool all = topic == Topic::kAll, info = topic == Topic::kInfo, check = topic == Topic::kCheck,
       decode = topic == Topic::kDecode, encode = topic == Topic::kEncode;
  std::string text;
  if (all || decode || encode) {
    text +=
        "Inputs and outputs named - are standard input and standard output. An existing file\n"
        "is replaced only with -f, never when it is an input of the same command.\n\n";
  } else if (check) {
    text += "A FILE named - is standard input.\n\n";
  }
  if (all || info) {
    text += "info prints the pixel conversion path this CPU takes, one of: " + ConversionPaths() +
            ".\n\n";
  }
  text += "exit codes:\n  0    success\n";
  if (all) {
    text += "  2    not a QLM image: its header or size is wrong (check: a file is not one)\n";
  } else if (check) {
    text += "  2    a FILE is not a QLM image: its header or size is wrong\n";
  } else if (decode) {
    text += "  2    not a QLM image: its header or size is wrong\n";
  }
  if (all || check || decode) text += "  4    out of memory\n";
  if (!info) text += "  6    an input cannot be opened or read\n";
  if (!encode) text += "  8    the plug-in cannot be loaded\n";
  if (all || decode || encode) {
    text += "  9    an output cannot be written, is an input, or exists (and -f is not given)\n";
  } else {
    text += "  9    standard output cannot be written\n";
  }
  text += "  10   usage error\n";
  if (all) {
    text +=
        "  11   encode: the picture cannot be read, or is larger than 512 x 512 without --fit\n";
  } else if (encode) {
    text += "  11   the picture cannot be read, or is larger than 512 x 512 without --fit\n";
  }
  if (all || decode) text += "  12   the plug-in broke its interface\n";
  text += "  130  interrupted by Ctrl-C (SIGINT); 143 SIGTERM, 129 SIGHUP";
  if (all) {
    text +=
        ": the process ends by\n       the signal, after removing what it was writing and "
        "cancelling a decode\n";
  } else if (decode) {
    text += ": the decode is\n       cancelled and what was being written removed\n";
  } else if (encode) {
    text += ": what was being\n       written is removed\n";
  } else if (check) {
    text += ": the decode is\n       cancelled\n";
  } else {
    text += "\n";
  }
  return text;
}

// Usage lines that name the program too: "spihost decode [OPTIONS] [FILE...]".
class Formatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App* app, std::string name) const override {
    if (app->get_parent() != nullptr) name = "spihost " + name;
    return CLI::Formatter::make_usage(app, name);
  }
};

struct Parser {
  CLI::App app{"spihost: try the QLM import-filter plug-in without a viewer, and write QLM files.",
               "spihost"};
  std::vector<std::pair<Command, CLI::App*>> commands;
};

void AddPlugin(CLI::App* command, Options* options) {
  command->add_option("--plugin", options->plugin,
                      "the plug-in module to load (default: the one installed with spihost; a "
                      "name without a folder is a file in the current folder, else one beside "
                      "the default module)");
}

void AddOutputs(CLI::App* command, Options* options, const char* what) {
  command->add_option(
      "-o,--output", options->output,
      std::string("the output file, - for standard output; one input only (") + what + ")");
  command->add_option("-d,--dir", options->folder,
                      "the folder the outputs go to (default: each beside its input)");
  command->add_flag("-f,--force", options->force,
                    "replace existing outputs (atomically; never an input of the command)");
  command->add_flag("-q,--quiet", options->quiet, "print nothing but errors: no progress bar");
}

void Build(Parser* parser, Options* options) {
  CLI::App& app = parser->app;
  // "/tmp/x.qlm" is a file, never an option, on Windows too (the commands inherit this).
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", kVersion, "print the version and exit");
  app.require_subcommand(1);
  app.formatter(std::make_shared<Formatter>());

  CLI::App* info = app.add_subcommand("info",
                                      "list the plug-in's information strings and the "
                                      "pixel conversion path this CPU takes");
  AddPlugin(info, options);
  info->footer(Footer(Topic::kInfo));

  CLI::App* check = app.add_subcommand(
      "check",
      "say whether each FILE is a QLM image the plug-in decodes, and what the plug-in "
      "answers when a viewer asks it");
  AddPlugin(check, options);
  check->add_flag("--memory", options->memory, "hand the plug-in the whole file in memory");
  check->add_option("FILE", options->inputs, "the files to check")->required();
  check->footer(Footer(Topic::kCheck));

  CLI::App* decode = app.add_subcommand(
      "decode", "decode each QLM FILE (default: the bundled sample) into a BMP, PNG or PPM");
  AddPlugin(decode, options);
  decode->add_flag("--memory", options->memory,
                   "hand the plug-in the whole file in memory instead of its name");
  AddOutputs(decode, options, "its extension, .bmp, .png, .ppm or .pnm, chooses the format");
  decode->add_option("--format", options->format,
                     "bmp, png or ppm (default: by the output's extension, else bmp)");
  decode->add_option("FILE", options->inputs, "the QLM files to decode");
  decode->footer(Footer(Topic::kDecode));

  CLI::App* encode = app.add_subcommand(
      "encode",
      "write each PICTURE (PNG, BMP or PNM) as a QLM file, each channel rounded to "
      "the nearest of 32 levels");
  AddOutputs(encode, options, ".qlm");
  encode->add_flag("--dither", options->dither,
                   "spread the rounding error (Floyd-Steinberg), so gradients do not band");
  encode->add_flag("--fit", options->fit,
                   "scale a picture larger than 512 x 512 down to fit, keeping its aspect");
  encode->add_option("PICTURE", options->inputs, "the pictures to encode")->required();
  encode->footer(Footer(Topic::kEncode));

  app.footer(kSynopsis + Footer(Topic::kAll));
  parser->commands = {{Command::kInfo, info},
                      {Command::kCheck, check},
                      {Command::kDecode, decode},
                      {Command::kEncode, encode}};
}

// The option as users type it: its short name when it has one.
std::string Spelled(const CLI::App* command, const std::string& name) {
  if (command == nullptr) return name;
  const CLI::Option* option = command->get_option_no_throw(name);
  if (option == nullptr || option->get_snames().empty()) return name;
  return "-" + option->get_snames().front();
}

// The commands that take `argument` as an option, for "does not apply" errors.
std::string CommandsTaking(const Parser& parser, const std::string& argument) {
  std::string name = argument.substr(0, argument.find('='));
  std::string words;
  for (const auto& entry : parser.commands) {
    if (entry.second->get_option_no_throw(name) == nullptr) continue;
    if (!words.empty()) words += ", ";
    words += CommandWord(entry.first);
  }
  return words;
}

std::string Explain(const Parser& parser, const CLI::App* command, const CLI::Error& error) {
  std::string what = error.what();
  size_t colon = what.find(':');
  std::string subject = colon == std::string::npos ? "" : what.substr(0, colon);
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    std::string option = Spelled(command, subject);
    if (what.find("missing") != std::string::npos) return option + " needs a value";
    if (what.find("At Most") != std::string::npos) return option + " is given more than once";
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    std::string extra = what.substr(what.find(':') + 2);
    extra = extra.substr(0, extra.find(' '));
    if (extra.size() > 1 && extra[0] == '-') {
      std::string takers = CommandsTaking(parser, extra);
      if (takers.empty()) return "unknown option " + extra;
      if (command == nullptr) return extra + " goes after the command (it is for " + takers + ")";
      return extra + " does not apply to " + command->get_name() + " (only to " + takers + ")";
    }
    return (command ? command->get_name() : std::string("spihost")) + " takes no file (" + extra +
           ")";
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && command != nullptr) {
    return command->get_name() + " needs at least one file";
  }
  return what;
}

int UsageError(const CLI::App* command, const std::string& problem) {
  std::string name = command != nullptr ? "spihost " + command->get_name() : "spihost";
  fprintf(stderr, "%s: %s; see '%s --help'\n", name.c_str(), problem.c_str(), name.c_str());
  return kExitUsage;
}

// An empty value would read as "not given": -o "$OUT" with OUT unset would write beside the
// input, --plugin "" would load the default module.
std::string EmptyValue(const CLI::App* command) {
  for (const char* name : {"--output", "--dir", "--plugin", "--format"}) {
    const CLI::Option* option = command->get_option_no_throw(name);
    if (option == nullptr) continue;
    for (const std::string& value : option->results()) {
      if (value.empty()) return Spelled(command, name) + " needs a value, not an empty one";
    }
  }
  return "";
}

// Rules between options, which CLI11 cannot say.
std::string Conflicts(const Options& options) {
  if (options.command != Command::kDecode && options.command != Command::kEncode) return "";
  if (!options.output.empty() && !options.folder.empty()) return "give -o or -d, not both";
  size_t inputs = options.inputs.empty() ? 1 : options.inputs.size();
  if (!options.output.empty() && inputs > 1) {
    return "-o names one output, but there are " + std::to_string(inputs) +
           " inputs; use -d DIR for several";
  }
  ImageFormat format;
  if (!options.format.empty() && !FormatForWord(options.format, &format)) {
    return "--format takes bmp, png or ppm, not '" + options.format + "'";
  }
  return "";
}

}  // namespace

int ParseCommandLine(const std::vector<std::string>& arguments, Options* options) {
  Parser parser;
  Build(&parser, options);
  const CLI::App* command = nullptr;
  if (arguments.empty()) return UsageError(nullptr, "no command");
  if (arguments[0].empty() || arguments[0][0] != '-') {
    for (const auto& entry : parser.commands) {
      if (entry.second->get_name() == arguments[0]) command = entry.second;
    }
    if (command == nullptr) {
      return UsageError(nullptr, "unknown command '" + arguments[0] +
                                     "' (commands: info, check, decode, encode)");
    }
  } else if (arguments[0] != "-h" && arguments[0] != "--help" && arguments[0] != "--version") {
    return UsageError(nullptr, "the command comes first, then its options (" + arguments[0] + ")");
  } else if (arguments[0] == "--version" && arguments.size() > 1) {
    return UsageError(nullptr, "--version takes nothing after it (" + arguments[1] + ")");
  }
  // CLI11 reads "--output=" as "--output" taking the next argument, which would make an input
  // the output: it is "--output" with an empty value. CLI11 wants the arguments last first.
  std::vector<std::string> reversed;
  bool beforeDashes = true;
  for (const std::string& argument : arguments) {
    if (argument == "--") beforeDashes = false;
    bool emptied = beforeDashes && argument.size() > 3 && argument.compare(0, 2, "--") == 0 &&
                   argument.find('=') == argument.size() - 1;
    reversed.push_back(emptied ? argument.substr(0, argument.size() - 1) : argument);
    if (emptied) reversed.push_back("");
  }
  std::reverse(reversed.begin(), reversed.end());
  try {
    parser.app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    const CLI::App* shown = command != nullptr ? command : &parser.app;
    printf("%s", shown->help().c_str());
    return kExitOk;
  } catch (const CLI::CallForVersion&) {
    printf("%s\n", kVersion);
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    return UsageError(command, Explain(parser, command, error));
  }
  for (const auto& entry : parser.commands) {
    if (entry.second->parsed()) options->command = entry.first;
  }
  std::string conflict = EmptyValue(command);
  if (conflict.empty()) conflict = Conflicts(*options);
  if (!conflict.empty()) return UsageError(command, conflict);
  return -1;
}

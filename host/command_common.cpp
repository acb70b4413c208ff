#include "host/commands.h"

#include "host/console.h"
#include "host/exit_codes.h"
#include "host/files.h"
#include "host/module_file.h"
#include "host/program_location.h"

namespace {

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithExtension(const std::string& path, const std::string& extension) {
  size_t base = path.find_last_of("/\\");
  base = base == std::string::npos ? 0 : base + 1;
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot <= base) return path + extension;
  return path.substr(0, dot) + extension;
}

// An output as messages name it.
std::string OutputLabel(const std::string& name) {
  return name == "-" ? "standard output" : name;
}

std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

}  // namespace

bool LoadPluginOrSay(const Options& options, SpiPlugin* plugin, std::string* path) {
  std::string why;
  *path = options.plugin.empty() ? DefaultPluginPath() : PluginPathFor(options.plugin, &why);
  if (path->empty()) {
    Fail(kExitCannotLoadPlugin, options.plugin, "cannot load the plug-in: " + why);
    return false;
  }
  Input file;
  if (!OpenInput(*path, &file, &why)) {
    Fail(kExitCannotLoadPlugin, *path, "cannot load the plug-in: " + why);
    return false;
  }
  CloseInput(&file);
  std::string error;
  if (LoadPlugin(*path, Lookup::kByName, plugin, &error)) return true;
  // The loader's text begins with what this message says already.
  std::string said = "cannot load plug-in " + *path + ": ";
  if (error.compare(0, said.size(), said) == 0) error.erase(0, said.size());
  std::string kind = WhyNotLoadable(*path);
  Fail(kExitCannotLoadPlugin, *path,
       "cannot load the plug-in: " + (kind.empty() ? error : kind + "; the system says: " + error));
  return false;
}

std::string ExtensionOf(const std::string& name) {
  size_t base = name.find_last_of("/\\");
  base = base == std::string::npos ? 0 : base + 1;
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot < base ? "" : name.substr(dot + 1);
}

std::vector<Guarded> GuardInputs(const std::vector<std::string>& inputs) {
  std::vector<Guarded> guarded;
  for (const std::string& name : inputs) {
    // Named, not opened: opening a FIFO would take its writer's bytes.
    FileId id = name == "-" ? StandardInputId() : FileId{};
    if (name != "-" && !IdentifyPath(name, &id)) continue;
    guarded.push_back(Guarded{id, "an input of this command"});
  }
  return guarded;
}

std::string OutputNameFor(const Options& options, const std::string& input,
                          const std::string& extension, bool besideInput, std::string* why) {
  if (!options.output.empty()) return options.output;
  if (input == "-") {
    *why = "standard input has no name to make an output name from; give -o FILE or -o -";
    return "";
  }
  std::string name = WithExtension(BaseName(input), extension);
  if (!options.folder.empty()) return Joined(options.folder, name);
  if (!besideInput) return name;
  return WithExtension(input, extension);
}

int PlanOrSay(const Options& options, const std::string& name, const std::vector<Guarded>& guarded,
              OutputPlan* plan) {
  std::string why;
  if (PlanOutput(name, options.force, guarded, plan, &why)) return kExitOk;
  return Fail(kExitCannotWrite, OutputLabel(name), why);
}

int WriteOrSay(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
               const std::string& input, std::vector<Guarded>* guarded) {
  std::string why;
  if (!WriteOutput(plan, bytes, &why)) {
    return Fail(kExitCannotWrite, OutputLabel(plan.name), "cannot write: " + why);
  }
  FileId id;
  bool file = plan.way == OutputWay::kReplace || plan.way == OutputWay::kCreate;
  if (file && IdentifyPath(plan.target, &id)) {
    guarded->push_back(Guarded{id, "written by this command already (from " + input + ")"});
  }
  return kExitOk;
}

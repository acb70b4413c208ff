// info: the plug-in's information strings, where it was loaded from, and the pixel conversion
// path this CPU takes.
#include "format/convert_row.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/exit_codes.h"

int RunInfo(const Options& options) {
  SpiPlugin plugin;
  std::string path;
  if (!LoadPluginOrSay(options, &plugin, &path)) return kExitCannotLoadPlugin;
  for (int index = 0;; ++index) {
    char text[256];
    int length = plugin.GetPluginInfo(index, text, sizeof text);
    if (length <= 0) break;
    Print("%d: %.*s\n", index, length, text);
  }
  Print("plug-in: %s\n", path.c_str());
  // The module's choice is its own, but it makes it by the same rule from the same CPU.
  Print("pixel conversion path on this CPU: %s\n", ConvertPathName(BestConvertPath()));
  UnloadPlugin(&plugin);
  return kExitOk;
}

// Shows which conversion path a loaded Windows module took, read from the module's own record
// of its choice (its 32-bit variable at RVA, found by tests/pe/chosen_path.py from the link
// map), so that no export or import has to be added to the module to show it.
//
//   path_probe MODULE RVA
//
// Prints "cpu NAME" (the widest path this CPU and system can run, by the same rule the module
// uses), "before NAME" (the record before any decode: it must be unchosen, which also shows the
// RVA is the record's) and "module NAME" (after one decode). Exits 1 if the record is not
// unchosen before or not a path after.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "format/convert_row.h"
#include "host/plugin_loader.h"

namespace {

const char* NameOf(int32_t value) {
  if (value < kConvertPathUnchosen || value > kConvertPathAvx512) return "invalid";
  return ConvertPathName(static_cast<ConvertPath>(value));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: path_probe MODULE RVA\n");
    return 2;
  }
  SpiPlugin plugin;
  std::string error;
  if (!LoadPlugin(argv[1], Lookup::kByName, &plugin, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  const volatile int32_t* record = reinterpret_cast<const volatile int32_t*>(
      static_cast<const char*>(plugin.module) + strtoul(argv[2], nullptr, 0));
  const int32_t before = *record;

  // One row of 40 pixels: wide enough for any path's kernel to run, which makes it choose.
  unsigned char image[4 + 2 * 40] = {0, 40, 0, 1};
  HLOCAL info = nullptr, pixels = nullptr;
  const int result = plugin.GetPicture(reinterpret_cast<char*>(image), sizeof image, 1, &info,
                                       &pixels, nullptr, 0);
  if (result == 0) {
    LocalFree(info);
    LocalFree(pixels);
  }
  const int32_t after = *record;
  printf("cpu %s\nbefore %s\nmodule %s\n", ConvertPathName(BestConvertPath()), NameOf(before),
         NameOf(after));
  if (result != 0) fprintf(stderr, "GetPicture gave %d\n", result);
  const bool ok = result == 0 && before == kConvertPathUnchosen && after > kConvertPathUnchosen &&
                  after <= kConvertPathAvx512;
  return ok ? 0 : 1;
}

// spihost's exit codes, one for each kind of failure, so scripts can tell them apart. Those of a
// refused file equal the plug-in's own result codes.
#ifndef SPIQLM_HOST_EXIT_CODES_H
#define SPIQLM_HOST_EXIT_CODES_H

enum Exit {
  kExitOk = 0,
  kExitNotQlm = 2,  // the header or the size is not that of a QLM image
  kExitOutOfMemory = 4,
  kExitCannotOpen = 6,        // an input cannot be opened or read
  kExitCannotLoadPlugin = 8,  // the module is missing, not a module, or lacks an export
  kExitCannotWrite = 9,       // an output cannot be written or may not be replaced
  kExitUsage = 10,            // the command line is wrong
  kExitBadPicture = 11,       // encode: the picture cannot be read or does not fit
  kExitPluginFault = 12,      // the plug-in broke its interface
};

// Interrupted by a signal: the process ends by that signal, which shells report as 128 plus
// its number (130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP); on Windows it exits with that
// number.
constexpr int kExitSignalBase = 128;

#endif  // SPIQLM_HOST_EXIT_CODES_H

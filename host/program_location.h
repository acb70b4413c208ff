// Where spihost finds what it was installed with: the plug-in module and the bundled sample,
// from the program's real location (not from argv[0], which a PATH search or a symbolic link
// does not show), in the build folder and in an installed tree alike.
//
//   build folder:  spihost, spiQLM.so (spiQLM.spi on Windows), logo.qlm, all side by side
//   installed:     bin/spihost, lib/spiqlm/spiQLM.so, share/spiqlm/logo.qlm
#ifndef SPIQLM_HOST_PROGRAM_LOCATION_H
#define SPIQLM_HOST_PROGRAM_LOCATION_H

#include <string>

// The folder of the running program, symbolic links resolved, ending in a separator.
std::string ProgramFolder();

// The module to load when --plugin is not given.
std::string DefaultPluginPath();

// The sample decoded when decode is given no file.
std::string DefaultSamplePath();

// The file a --plugin name stands for, as a full path (symbolic links resolved where the system
// has them), so that the system's library search never picks another file and the file loaded
// is the one guarded and shown. A name without a folder is a file in the current folder, else
// one in the folder of the default module. Empty, with `*why`, when there is no such file.
std::string PluginPathFor(const std::string& name, std::string* why);

#endif  // SPIQLM_HOST_PROGRAM_LOCATION_H

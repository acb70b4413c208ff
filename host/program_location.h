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

// The path a --plugin name stands for: a name without a folder is a file in the current
// folder when there is one, and otherwise left to the system's search.
std::string PluginPathFor(const std::string& name);

#endif  // SPIQLM_HOST_PROGRAM_LOCATION_H

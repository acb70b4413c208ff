// Why a plug-in module cannot be loaded, read from the file's first bytes: a module for another
// processor or word size, a Windows DLL where an ELF one is loaded (or the reverse), or a file
// that is not a module at all.
#ifndef SPIQLM_HOST_MODULE_FILE_H
#define SPIQLM_HOST_MODULE_FILE_H

#include <string>

// Empty when the file looks like a module this program can load, or cannot be read.
std::string WhyNotLoadable(const std::string& path);

#endif  // SPIQLM_HOST_MODULE_FILE_H

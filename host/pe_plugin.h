// The plug-in loader's backend for the 32-bit DLL on i386 Linux (host/pe_loader.h): the
// exports handed to the host are wrappers that call the DLL through the checked call. The
// stack offset of those calls comes from SPIQLM_PE_STACK_OFFSET (0, 4, 8 or 12; 0 when unset),
// so a suite can run once per offset. Loading turns on the stand-in's guard pages, and with
// SPIQLM_PE_REPORT set says on stderr where the DLL was mapped. One such plug-in is loaded at a
// time.
#ifndef SPIQLM_HOST_PE_PLUGIN_H
#define SPIQLM_HOST_PE_PLUGIN_H

#include <string>

#include "host/plugin_loader.h"

bool LoadPePlugin(const std::string& path, Lookup lookup, SpiPlugin* plugin, std::string* error);
// Unloads `plugin` if this backend loaded it, and says whether it did.
bool UnloadPePlugin(SpiPlugin* plugin);

#endif  // SPIQLM_HOST_PE_PLUGIN_H

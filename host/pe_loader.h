// Runs a 32-bit Windows DLL inside an i386 Linux process, as the Windows loader would: maps it
// at a base other than its preferred one and applies its base relocations, binds its imports by
// name to the stand-in for the Windows calls (KERNEL32) and to the C library (msvcrt: malloc and
// free through the stand-in's counted ones), refusing any import it does not provide, calls its
// entry point, and finds its exports by name or by ordinal. Each section gets the protection it
// asks for; one that is both writable and executable is refused.
//
// Every call into the DLL goes through PeCheckedCall (host/pe_call.h); PeCall reports any breach
// of the calling convention on stderr and aborts, naming the DLL, the function and the register.
#ifndef SPIQLM_HOST_PE_LOADER_H
#define SPIQLM_HOST_PE_LOADER_H

#include <stdint.h>

#include <string>

struct PeModule;

// Loads the DLL and calls its entry point for DLL_PROCESS_ATTACH, with the stack at
// `stackOffset` mod 16; null with the reason in `*error` on failure.
PeModule* LoadPeModule(const std::string& path, uint32_t stackOffset, std::string* error);
// Calls the entry point for DLL_PROCESS_DETACH and unmaps the DLL.
void UnloadPeModule(PeModule* module);

// An export's address, or 0 when there is none (or it is forwarded elsewhere).
uint32_t PeExportByName(const PeModule* module, const char* name);
uint32_t PeExportByOrdinal(const PeModule* module, uint32_t ordinal);

uint32_t PeLoadBase(const PeModule* module);
uint32_t PePreferredBase(const PeModule* module);
uint32_t PeImageSize(const PeModule* module);

// Calls `target`, a stdcall function of the module taking `count` argument words, through
// PeCheckedCall with the module's stack offset, and returns its eax. `what` names the function.
uint32_t PeCall(const PeModule* module, uint32_t target, const char* what, const uint32_t* args,
                uint32_t count);

#endif  // SPIQLM_HOST_PE_LOADER_H

// What the plug-in loader's shared-object code finds in the static i386 hosts instead of
// <dlfcn.h>. Those hosts load only the 32-bit DLL (host/pe_plugin.h); glibc's dlopen cannot work
// in a static program run without a sysroot, and the linker warns wherever it is referenced.
// These are C++ functions of the same names, so no reference to glibc's is made: every shared
// object is refused, with the reason.
#ifndef SPIQLM_HOST_PE_NO_DL_H
#define SPIQLM_HOST_PE_NO_DL_H

#define RTLD_NOW 2
#define RTLD_LOCAL 0

inline void* dlopen(const char* /*file*/, int /*mode*/) {
  return nullptr;
}

inline const char* dlerror() {
  return "this static i386 host loads only 32-bit Windows DLLs";
}

inline void* dlsym(void* /*handle*/, const char* /*name*/) {
  return nullptr;
}

inline int dlclose(void* /*handle*/) {
  return -1;
}

#endif  // SPIQLM_HOST_PE_NO_DL_H

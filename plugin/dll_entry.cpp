// The DLL's entry point. The module keeps no state that needs setting up or tearing down, and
// it is linked without the C runtime's start-up code, so loading and unloading do no work.
#include "winapi/winapi.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}

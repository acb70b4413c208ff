# Windows build: spiQLM.spi, which must run on nothing but the system's KERNEL32.dll and
# msvcrt.dll, then a command-line host and the conformance suite as Windows programs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SPIQLM_ARCH i386)
  # The entry point's stdcall name; undecorated exports come from the definition file.
  set(SPIQLM_ENTRY _DllEntry@12)
  set(SPIQLM_ARCH_LINK_FLAGS -Wl,--enable-stdcall-fixup)
  # Every CPU runs the code outside the kernels, so it is built for the oldest one a system
  # that loads this DLL runs on: Windows 95, which takes its subsystem version 4.0 (what the
  # linker writes), runs on an 80386. Hence no cmov or multi-byte nop (Pentium Pro), no bswap,
  # xadd or cmpxchg (486), no MMX or SSE; cpuid runs only once the flags register shows it
  # exists. Tuning stays for today's CPUs. The kernels add their own instruction sets.
  # No unwind tables: 32-bit exceptions walk a chain of records on the stack, not tables, and
  # these would need libgcc's frame registration at start-up.
  set(SPIQLM_ARCH_COMPILE_FLAGS -march=i386 -mtune=generic -fno-asynchronous-unwind-tables
    -fno-unwind-tables)
else()
  set(SPIQLM_ARCH amd64)
  set(SPIQLM_ENTRY DllEntry)
  set(SPIQLM_ARCH_LINK_FLAGS)
  # Unwind data for every function (.pdata and .xdata, read by Windows itself): a host's C++
  # exception from the progress callback unwinds through the module, and debuggers and crash
  # dumps walk the stack through it. With -fno-exceptions no function has a handler, so no
  # personality routine, and no import, comes with them.
  set(SPIQLM_ARCH_COMPILE_FLAGS -fasynchronous-unwind-tables)
endif()

add_library(spiQLM SHARED ${SPIQLM_FORMAT_SOURCES} ${SPIQLM_PLUGIN_SOURCES}
  plugin/dll_entry.cpp spiQLM.def)
set_target_properties(spiQLM PROPERTIES PREFIX "" SUFFIX ".spi")
target_include_directories(spiQLM PRIVATE ${CMAKE_SOURCE_DIR})
# No stack protector or C++ runtime: nothing that would pull in libgcc or libstdc++ DLLs or
# start-up code.
target_compile_options(spiQLM PRIVATE ${SPIQLM_MODULE_FLAGS} ${SPIQLM_ARCH_COMPILE_FLAGS}
  -fno-stack-protector -fno-ident)
target_link_options(spiQLM PRIVATE -nostdlib -nostartfiles -Wl,--entry=${SPIQLM_ENTRY}
  -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp -s ${SPIQLM_ARCH_LINK_FLAGS}
  -Wl,-Map=${CMAKE_BINARY_DIR}/spiQLM.map)
# libgcc is linked statically, for any helper the compiler may call; it adds no import.
target_link_libraries(spiQLM PRIVATE msvcrt kernel32 gcc)
spiqlm_warnings(spiQLM)

# The host programs carry their C++ runtime inside, so they run from any folder.
add_library(spiqlm_loader STATIC host/plugin_loader.cpp)
target_include_directories(spiqlm_loader PUBLIC ${CMAKE_SOURCE_DIR})
spiqlm_warnings(spiqlm_loader)

include(cmake/HostParts.cmake)
add_executable(spihost ${SPIQLM_HOST_SOURCES})
target_link_libraries(spihost PRIVATE spiqlm_loader spiqlm_convert spihost_pictures spiqlm_cli11
  shell32)
# Stripped: the static C++ runtime brings megabytes of debug information no user needs.
target_link_options(spihost PRIVATE -static -s)
spiqlm_warnings(spihost)

include(cmake/WindowsRelease.cmake)

if(SPIQLM_TESTS)
  enable_testing()
  if(SPIQLM_ARCH STREQUAL amd64)
    include(cmake/WindowsCappedModules.cmake)
  endif()
  add_subdirectory(tests/windows)
endif()

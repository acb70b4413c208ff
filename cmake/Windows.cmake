# Windows build: spiQLM.spi, which must run on nothing but the system's KERNEL32.dll and
# msvcrt.dll, then a command-line host and the conformance suite as Windows programs.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SPIQLM_ARCH i386)
  # The entry point's stdcall name; undecorated exports come from the definition file.
  set(SPIQLM_ENTRY _DllEntry@12)
  set(SPIQLM_ARCH_LINK_FLAGS -Wl,--enable-stdcall-fixup)
else()
  set(SPIQLM_ARCH amd64)
  set(SPIQLM_ENTRY DllEntry)
  set(SPIQLM_ARCH_LINK_FLAGS)
endif()

add_library(spiQLM SHARED ${SPIQLM_FORMAT_SOURCES} ${SPIQLM_PLUGIN_SOURCES}
  plugin/dll_entry.cpp spiQLM.def)
set_target_properties(spiQLM PROPERTIES PREFIX "" SUFFIX ".spi")
target_include_directories(spiQLM PRIVATE ${CMAKE_SOURCE_DIR})
# No unwind tables, stack protector or C++ runtime: nothing that would pull in libgcc or
# libstdc++ DLLs or start-up code.
target_compile_options(spiQLM PRIVATE ${SPIQLM_MODULE_FLAGS} -fno-asynchronous-unwind-tables
  -fno-unwind-tables -fno-stack-protector -fno-ident)
target_link_options(spiQLM PRIVATE -nostdlib -nostartfiles -Wl,--entry=${SPIQLM_ENTRY}
  -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp -s ${SPIQLM_ARCH_LINK_FLAGS})
# libgcc is linked statically, for any helper the compiler may call; it adds no import.
target_link_libraries(spiQLM PRIVATE msvcrt kernel32 gcc)
spiqlm_warnings(spiQLM)

# The host programs carry their C++ runtime inside, so they run from any folder.
add_library(spiqlm_loader STATIC host/plugin_loader.cpp)
target_include_directories(spiqlm_loader PUBLIC ${CMAKE_SOURCE_DIR})
spiqlm_warnings(spiqlm_loader)

# The conversion code only for the path this CPU will take, which spihost reports.
add_library(spiqlm_convert STATIC format/convert_row.cpp format/convert_row_scalar.cpp
  $<$<BOOL:${SPIQLM_X86}>:format/convert_row_sse2.cpp format/convert_row_ssse3.cpp
  format/convert_row_avx2.cpp format/convert_row_avx512.cpp>)
target_include_directories(spiqlm_convert PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(spihost ${SPIQLM_HOST_SOURCES} host/pictures.cpp)
target_link_libraries(spihost PRIVATE spiqlm_loader spiqlm_convert spiqlm_cli11 shell32)
target_link_options(spihost PRIVATE -static)
spiqlm_warnings(spihost)

if(SPIQLM_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()

# i386 Linux hosts for the 32-bit DLL, run under qemu-i386 on each CPU model: the stand-in for
# the Windows calls compiled for i386 (stdcall), the plug-in loader with its PE backend, the
# conformance suite and spihost, linked statically so that qemu-i386 needs no sysroot. The
# mingw32 build drives this one and registers its tests; it names the DLL (SPIQLM_PE_MODULE).
if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
  message(FATAL_ERROR "SPIQLM_PE_HOST is for i386 Linux (cmake/toolchain-i686-linux.cmake)")
endif()
enable_language(ASM)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# The DLL calls back into this code (the stand-in, progress callbacks) with the stack aligned as
# Windows code keeps it, to 4 bytes; so everything here realigns where it needs more.
add_compile_options(-mincoming-stack-boundary=2)
# 64-bit file positions, as on Windows: the stand-in serves files of 4 GiB and more.
add_compile_definitions(_FILE_OFFSET_BITS=64)
# The checked call addresses its state absolutely.
add_link_options(-static -no-pie)

add_library(spiwinapi STATIC winapi/winapi_posix.cpp)
target_include_directories(spiwinapi PUBLIC ${CMAKE_SOURCE_DIR})
spiqlm_warnings(spiwinapi)

add_library(spiqlm_loader STATIC host/plugin_loader.cpp host/pe_image.cpp host/pe_loader.cpp
  host/pe_plugin.cpp host/pe_call.cpp host/pe_call_i386.S)
target_compile_definitions(spiqlm_loader PUBLIC SPIQLM_PE_LOADER)
target_link_libraries(spiqlm_loader PUBLIC spiwinapi)
spiqlm_warnings(spiqlm_loader)

include(cmake/HostParts.cmake)
add_executable(spihost ${SPIQLM_HOST_SOURCES})
target_link_libraries(spihost PRIVATE spiqlm_loader spiqlm_convert spihost_pictures spiqlm_cli11)
spiqlm_warnings(spihost)

file(READ ${CMAKE_SOURCE_DIR}/tests/conformance/cases.txt SPIQLM_CASES_TEXT)
configure_file(${CMAKE_SOURCE_DIR}/tests/conformance/cases_text.h.in
  ${CMAKE_BINARY_DIR}/generated/tests/conformance/cases_text.h @ONLY)
add_executable(conformance tests/conformance/conformance_main.cpp)
target_include_directories(conformance PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(conformance PRIVATE spiqlm_loader)
spiqlm_warnings(conformance)

add_executable(pe_loader_test tests/pe/pe_loader_test.cpp)
target_link_libraries(pe_loader_test PRIVATE spiqlm_loader)
spiqlm_warnings(pe_loader_test)

if(NOT SPIQLM_TESTS OR NOT SPIQLM_PE_MODULE)
  return()
endif()
# Registered in this folder alone, so the mingw32 build can include this folder's test file.
enable_testing()
find_program(QEMU_I386 qemu-i386 REQUIRED)
add_test(NAME pe_i386_loader
  COMMAND ${QEMU_I386} $<TARGET_FILE:pe_loader_test> ${SPIQLM_PE_MODULE})
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# The CPU models and the kernel the DLL must choose on each: no SSE2; SSE2 and SSE3 but no SSSE3;
# SSSE3; AVX2 (twice: a real CPU's model and all that the emulator has).
set(models pentium3 coreduo core2duo Haswell max)
set(paths scalar sse2 ssse3 avx2 avx2)
foreach(model path IN ZIP_LISTS models paths)
  set(qemu ${QEMU_I386} -cpu ${model})
  # Every offset mod 16 of the stack at the calls, with the exports found both ways.
  foreach(offset 0 4 8 12)
    foreach(lookup name ordinal)
      set(test pe_i386_${model}_offset_${offset}_by_${lookup})
      set(args ${SPIQLM_PE_MODULE})
      if(lookup STREQUAL ordinal)
        list(APPEND args --ordinal)
      endif()
      add_test(NAME ${test} COMMAND ${qemu} $<TARGET_FILE:conformance> ${args})
      set_tests_properties(${test} PROPERTIES ENVIRONMENT SPIQLM_PE_STACK_OFFSET=${offset})
    endforeach()
  endforeach()
  add_test(NAME pe_i386_${model}_kernel
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/pe/dll_trace.py ${QEMU_I386} ${model}
      $<TARGET_FILE:spihost> ${SPIQLM_PE_MODULE} ${CMAKE_SOURCE_DIR}/samples/logo.qlm ${path}
      ${CMAKE_BINARY_DIR}/trace)
  add_test(NAME pe_i386_${model}_spihost_decode
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tests/sample_decode.py
      ${CMAKE_SOURCE_DIR}/samples/logo.qlm ${CMAKE_BINARY_DIR}/logo-${model} ${SPIQLM_PE_MODULE}
      -- ${qemu} $<TARGET_FILE:spihost>)
endforeach()

# What the shipped binaries themselves must hold to, read from their machine code.

# No instruction that faults on a misaligned address, wherever the viewer's stack or the rows lie.
add_test(NAME alignment_guard
  COMMAND ${PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/alignment_check.py ${CMAKE_OBJDUMP}
    $<TARGET_FILE:spiQLM>)
add_test(NAME alignment_guard_verdicts
  COMMAND ${PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/alignment_check_test.py)

if(SPIQLM_ARCH STREQUAL i386)
  # The code every CPU runs, before a path is chosen, needs nothing past the 80386.
  add_test(NAME baseline_i386
    COMMAND ${PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/baseline_check.py ${CMAKE_OBJDUMP} ${CMAKE_AR}
      ${CMAKE_BINARY_DIR}/spiQLM.map $<TARGET_OBJECTS:spiQLM>
    COMMAND_EXPAND_LISTS)
endif()

if(SPIQLM_ARCH STREQUAL amd64)
  # A C++ exception from the progress callback, caught around GetPicture: the module's unwind
  # data must bring back the host's registers and let a stack walk pass its frames.
  enable_language(ASM)
  add_executable(unwind_test unwind_test.cpp callee_saved_x64.S)
  target_include_directories(unwind_test PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(unwind_test PRIVATE -static)
  spiqlm_warnings(unwind_test)
  add_test(NAME wine_unwind_through_module
    COMMAND ${WINE} $<TARGET_FILE:unwind_test> spiQLM.spi
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_unwind_through_module PROPERTIES RESOURCE_LOCK wineprefix)
endif()

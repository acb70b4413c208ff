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
  target_link_libraries(unwind_test PRIVATE spiqlm_loader)
  target_link_options(unwind_test PRIVATE -static)
  spiqlm_warnings(unwind_test)
  add_test(NAME wine_unwind_through_module
    COMMAND ${WINE} $<TARGET_FILE:unwind_test> spiQLM.spi
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(wine_unwind_through_module PROPERTIES RESOURCE_LOCK wineprefix)

  # The path the shipped module takes on this CPU, read from the module itself, and each path
  # run through the conformance suite in a test copy held to it (cmake/WindowsCappedModules).
  add_executable(path_probe path_probe.cpp)
  target_link_libraries(path_probe PRIVATE spiqlm_loader spiqlm_convert)
  target_link_options(path_probe PRIVATE -static)
  spiqlm_warnings(path_probe)
  set(CHOSEN ${PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/chosen_path.py ${CMAKE_OBJDUMP})
  add_test(NAME wine_chosen_path
    COMMAND ${CHOSEN} ${CMAKE_BINARY_DIR}/spiQLM.map "$<TARGET_OBJECTS:spiQLM>" ${WINE}
      $<TARGET_FILE:path_probe> spiQLM.spi
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set(wine_tests wine_chosen_path)
  foreach(path IN LISTS SPIQLM_CAPPED_PATHS)
    set(module capped/${path}/spiQLM.spi)
    add_test(NAME wine_chosen_path_${path}
      COMMAND ${CHOSEN} ${CMAKE_BINARY_DIR}/capped/${path}/spiQLM.map
        "$<TARGET_OBJECTS:spiQLM_${path}>" ${WINE} $<TARGET_FILE:path_probe> ${module} ${path}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(wine_chosen_path_${path} PROPERTIES SKIP_RETURN_CODE 77)
    add_test(NAME wine_conformance_${path}
      COMMAND ${WINE} $<TARGET_FILE:conformance> ${module}
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    list(APPEND wine_tests wine_chosen_path_${path} wine_conformance_${path})
  endforeach()
  set_tests_properties(${wine_tests} PROPERTIES RESOURCE_LOCK wineprefix)
endif()

# The release archive, made as README.md says, holds the module, spihost.exe and README.txt.
add_test(NAME release_archive
  COMMAND ${PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/archive_check.py ${CMAKE_CPACK_COMMAND}
    ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${CMAKE_BINARY_DIR}/archive-test
    ${SPIQLM_ARCHIVE_NAME} $<TARGET_FILE:spiQLM> $<TARGET_FILE:spihost>
    ${CMAKE_BINARY_DIR}/generated/README.txt ${SPIQLM_LICENSE})

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

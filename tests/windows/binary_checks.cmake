# What the shipped binaries themselves must hold to, read from their machine code.

# No instruction that faults on a misaligned address, wherever the viewer's stack or the rows lie.
add_test(NAME alignment_guard
  COMMAND ${PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/alignment_check.py ${CMAKE_OBJDUMP}
    $<TARGET_FILE:spiQLM>)
add_test(NAME alignment_guard_verdicts
  COMMAND ${PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/alignment_check_test.py)

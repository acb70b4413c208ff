# What spihost links beside its own files where the module is a DLL (Windows, and the i386
# Linux hosts of the 32-bit DLL): the conversion code alone, for the path this CPU takes, which
# spihost reports (the DLL applies the same rule to the same cpuid answers), and the pictures.
add_library(spiqlm_convert STATIC format/convert_row.cpp format/convert_row_scalar.cpp
  ${SPIQLM_KERNEL_SOURCES})
target_include_directories(spiqlm_convert PUBLIC ${CMAKE_SOURCE_DIR})

include(cmake/Pictures.cmake)

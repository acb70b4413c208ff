# Test-only copies of the 64-bit module, each held to one conversion path at most by
# SPIQLM_CONVERT_PATH_CAP, so that the conformance suite runs every path inside the DLL under
# Wine. Each is the shipped module's own objects, options and libraries with the one file that
# chooses the path compiled again, and lands in capped/PATH/, never beside the shipped module
# nor in an archive.
set(SPIQLM_CAPPED_PATHS scalar sse2 ssse3 avx2 avx512)
set(SPIQLM_CAPPED_ENUMS kConvertPathScalar kConvertPathSse2 kConvertPathSsse3
  kConvertPathAvx2 kConvertPathAvx512)

get_target_property(capped_sources spiQLM SOURCES)
list(FILTER capped_sources INCLUDE REGEX "\\.def$")
get_target_property(capped_compile spiQLM COMPILE_OPTIONS)
get_target_property(capped_link spiQLM LINK_OPTIONS)
get_target_property(capped_libraries spiQLM LINK_LIBRARIES)
get_target_property(capped_includes spiQLM INCLUDE_DIRECTORIES)
set(capped_objects
  "$<FILTER:$<TARGET_OBJECTS:spiQLM>,EXCLUDE,/format/convert_row\\.cpp\\.obj$>")
foreach(path enum IN ZIP_LISTS SPIQLM_CAPPED_PATHS SPIQLM_CAPPED_ENUMS)
  set(target spiQLM_${path})
  set(folder ${CMAKE_BINARY_DIR}/capped/${path})
  add_library(${target} SHARED format/convert_row.cpp ${capped_sources} ${capped_objects})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME spiQLM PREFIX "" SUFFIX ".spi"
    RUNTIME_OUTPUT_DIRECTORY ${folder} LIBRARY_OUTPUT_DIRECTORY ${folder}
    ARCHIVE_OUTPUT_DIRECTORY ${folder})
  target_include_directories(${target} PRIVATE ${capped_includes})
  target_compile_options(${target} PRIVATE ${capped_compile})
  target_compile_definitions(${target} PRIVATE SPIQLM_CONVERT_PATH_CAP=${enum})
  # The same options, but the link map beside this copy.
  string(REPLACE "${CMAKE_BINARY_DIR}/spiQLM.map" "${folder}/spiQLM.map" link "${capped_link}")
  target_link_options(${target} PRIVATE ${link})
  target_link_libraries(${target} PRIVATE ${capped_libraries})
endforeach()

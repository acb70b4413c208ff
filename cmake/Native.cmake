# Native build: the module, the stand-in for the Windows calls, the host, tests and tools.
# Everything lands in the build folder's root, so the module finds the stand-in beside it
# ($ORIGIN) and hosts find the module beside themselves.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

add_library(spiwinapi SHARED winapi/winapi_posix.cpp)
target_include_directories(spiwinapi PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(spiwinapi PRIVATE -fvisibility=hidden)
spiqlm_warnings(spiwinapi)

# The module's code, compiled once: into the module itself, and into a static library that
# unit tests, benchmarks and fuzzers call directly (so they can force a conversion path).
add_library(spiqlm_core OBJECT ${SPIQLM_FORMAT_SOURCES} ${SPIQLM_PLUGIN_SOURCES})
set_target_properties(spiqlm_core PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(spiqlm_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(spiqlm_core PRIVATE ${SPIQLM_MODULE_FLAGS} ${SPIQLM_MODULE_SANITIZE})
spiqlm_warnings(spiqlm_core)

add_library(spiqlm_static STATIC $<TARGET_OBJECTS:spiqlm_core>)
target_link_libraries(spiqlm_static PUBLIC spiwinapi)

add_library(spiQLM MODULE $<TARGET_OBJECTS:spiqlm_core>)
set_target_properties(spiQLM PROPERTIES PREFIX "" SUFFIX ".so" BUILD_RPATH "$ORIGIN"
  INSTALL_RPATH "$ORIGIN")
target_compile_options(spiQLM PRIVATE ${SPIQLM_MODULE_FLAGS})
# The module's malloc and free go through the stand-in, which counts them and can fail them on
# request, without any change to the module's code.
target_link_options(spiQLM PRIVATE -Wl,--wrap=malloc -Wl,--wrap=free)
if(NOT SPIQLM_SANITIZE)
  # Sanitizer runtimes live in the host program, so only plain builds can insist on this.
  target_link_options(spiQLM PRIVATE -Wl,-z,defs)
endif()
target_link_libraries(spiQLM PRIVATE spiwinapi)

include(cmake/Pictures.cmake)

add_library(spiqlm_loader STATIC host/plugin_loader.cpp)
target_link_libraries(spiqlm_loader PUBLIC spiwinapi ${CMAKE_DL_LIBS})
spiqlm_warnings(spiqlm_loader)

if(SPIQLM_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()

add_executable(spihost ${SPIQLM_HOST_SOURCES})
# The static library only for the conversion path this CPU will take, which spihost reports.
target_link_libraries(spihost PRIVATE spiqlm_loader spiqlm_static spihost_pictures spiqlm_cli11)
add_dependencies(spihost spiQLM)
spiqlm_warnings(spihost)

# An installed tree works wherever it is put: the program finds the stand-in, the module and
# the sample relative to its own location (bin/ -> lib/spiqlm/, share/spiqlm/).
set(SPIQLM_INSTALL_PLUGIN_DIR lib/spiqlm)
set(SPIQLM_INSTALL_DATA_DIR share/spiqlm)
target_compile_definitions(spihost PRIVATE
  SPIQLM_PLUGIN_DIR_FROM_BIN="../${SPIQLM_INSTALL_PLUGIN_DIR}"
  SPIQLM_DATA_DIR_FROM_BIN="../${SPIQLM_INSTALL_DATA_DIR}")
set_target_properties(spihost PROPERTIES INSTALL_RPATH "$ORIGIN/../${SPIQLM_INSTALL_PLUGIN_DIR}")
set_target_properties(spiwinapi PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS spihost RUNTIME DESTINATION bin)
install(TARGETS spiQLM spiwinapi LIBRARY DESTINATION ${SPIQLM_INSTALL_PLUGIN_DIR})
install(FILES samples/logo.qlm DESTINATION ${SPIQLM_INSTALL_DATA_DIR})

# The main job: decode the bundled sample with the host.
add_custom_target(demo
  COMMAND spihost decode --force --plugin $<TARGET_FILE:spiQLM> -o ${CMAKE_BINARY_DIR}/logo.bmp
    ${CMAKE_SOURCE_DIR}/samples/logo.qlm
  DEPENDS spihost spiQLM
  USES_TERMINAL)

if(SPIQLM_BENCH)
  find_package(benchmark REQUIRED)
  add_executable(spiqlm_bench bench/bench_main.cpp)
  target_link_libraries(spiqlm_bench PRIVATE spiqlm_static benchmark::benchmark)
  spiqlm_warnings(spiqlm_bench)
endif()

# The fuzz target's invariants, replayed over the seeds and past faults in every build.
add_executable(fuzz_replay fuzz/fuzz_exports.cpp fuzz/replay_main.cpp)
target_link_libraries(fuzz_replay PRIVATE spiqlm_static)
spiqlm_warnings(fuzz_replay)
# The same for spihost's picture readers, with their seeds made from the readers' test cases.
add_executable(write_picture_seeds fuzz/write_picture_seeds.cpp)
target_include_directories(write_picture_seeds PRIVATE ${CMAKE_SOURCE_DIR})
spiqlm_warnings(write_picture_seeds)
add_executable(fuzz_pictures_replay fuzz/fuzz_pictures.cpp fuzz/replay_main.cpp)
target_link_libraries(fuzz_pictures_replay PRIVATE spihost_pictures)
spiqlm_warnings(fuzz_pictures_replay)
if(SPIQLM_FUZZ)
  target_compile_options(spihost_pictures PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(fuzz_pictures fuzz/fuzz_pictures.cpp)
  target_compile_options(fuzz_pictures PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_pictures PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_pictures PRIVATE spihost_pictures)
  add_executable(fuzz_exports fuzz/fuzz_exports.cpp)
  target_compile_options(fuzz_exports PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_exports PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_exports PRIVATE spiqlm_static)
endif()

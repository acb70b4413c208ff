# Native build: the module, the stand-in for the Windows calls, the host, tests and tools.
# Everything lands in the build folder's root, so the module finds the stand-in beside it
# ($ORIGIN) and hosts find the module beside themselves.
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

add_library(spiwinapi SHARED winapi/winapi_posix.cpp)
target_include_directories(spiwinapi PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(spiwinapi PRIVATE -fvisibility=hidden)
spiqlm_warnings(spiwinapi)

# The format core as a library of its own, so its unit tests call it directly.
add_library(spiqlm_format STATIC ${SPIQLM_FORMAT_SOURCES})
set_target_properties(spiqlm_format PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_compile_options(spiqlm_format PRIVATE ${SPIQLM_MODULE_FLAGS})
target_link_libraries(spiqlm_format PUBLIC spiwinapi)
spiqlm_warnings(spiqlm_format)

add_library(spiQLM MODULE ${SPIQLM_PLUGIN_SOURCES})
set_target_properties(spiQLM PROPERTIES PREFIX "" SUFFIX ".so" BUILD_RPATH "$ORIGIN"
  INSTALL_RPATH "$ORIGIN")
target_compile_options(spiQLM PRIVATE ${SPIQLM_MODULE_FLAGS})
# The module's malloc and free go through the stand-in, which counts them and can fail them on
# request, without any change to the module's code.
target_link_options(spiQLM PRIVATE -Wl,--wrap=malloc -Wl,--wrap=free -Wl,-z,defs)
target_link_libraries(spiQLM PRIVATE spiqlm_format spiwinapi)
spiqlm_warnings(spiQLM)

add_library(spiqlm_loader STATIC host/plugin_loader.cpp)
target_link_libraries(spiqlm_loader PUBLIC spiwinapi ${CMAKE_DL_LIBS})
spiqlm_warnings(spiqlm_loader)

if(SPIQLM_TESTS)
  enable_testing()
  add_subdirectory(tests)
endif()

add_executable(spihost host/spihost.cpp host/bitmap_files.cpp)
target_link_libraries(spihost PRIVATE spiqlm_loader)
add_dependencies(spihost spiQLM)
spiqlm_warnings(spihost)

# The main job: decode the bundled sample with the host.
add_custom_target(demo
  COMMAND spihost decode --plugin $<TARGET_FILE:spiQLM> -o ${CMAKE_BINARY_DIR}/logo.bmp
    ${CMAKE_SOURCE_DIR}/samples/logo.qlm
  DEPENDS spihost spiQLM
  USES_TERMINAL)

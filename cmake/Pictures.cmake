# spihost's picture readers and writers, a library of their own so that their tests and fuzz
# target use exactly what spihost uses. PNG goes through the platform's codec: libspng where
# it is found and links for the target (it is not packaged for every one, e.g. i386 Linux),
# the Windows Imaging Component on Windows; without one, the build says PNG is unavailable.
set(SPIQLM_PNG AUTO CACHE STRING "PNG in spihost: AUTO (if a codec is found), ON or OFF")
set_property(CACHE SPIQLM_PNG PROPERTY STRINGS AUTO ON OFF)

set(SPIQLM_PNG_CODEC none)
if(NOT SPIQLM_PNG STREQUAL OFF)
  if(WIN32)
    set(SPIQLM_PNG_CODEC wic)
  else()
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_check_modules(SPNG QUIET IMPORTED_TARGET spng)
    endif()
    find_package(ZLIB QUIET)
    if(SPNG_FOUND AND ZLIB_FOUND)
      # pkg-config may answer for the build machine rather than the target.
      include(CheckCXXSourceCompiles)
      set(CMAKE_REQUIRED_LIBRARIES PkgConfig::SPNG ZLIB::ZLIB)
      check_cxx_source_compiles([[
        #include <spng.h>
        #include <zlib.h>
        int main() { spng_ctx_free(spng_ctx_new(0)); return int(crc32(0, nullptr, 0)); }
      ]] SPIQLM_SPNG_LINKS)
      unset(CMAKE_REQUIRED_LIBRARIES)
      if(SPIQLM_SPNG_LINKS)
        set(SPIQLM_PNG_CODEC libspng)
      endif()
    endif()
  endif()
  if(SPIQLM_PNG STREQUAL ON AND SPIQLM_PNG_CODEC STREQUAL none)
    message(FATAL_ERROR "SPIQLM_PNG is ON, but libspng (and zlib) cannot be found or linked")
  endif()
endif()
message(STATUS "spihost reads and writes PNG through: ${SPIQLM_PNG_CODEC}")

add_library(spihost_pictures STATIC host/picture_read.cpp host/picture_bmp.cpp
  host/picture_pnm.cpp host/qlm_writer.cpp host/bitmap_writers.cpp)
target_include_directories(spihost_pictures PUBLIC ${CMAKE_SOURCE_DIR})
spiqlm_warnings(spihost_pictures)
if(SPIQLM_PNG_CODEC STREQUAL libspng)
  target_sources(spihost_pictures PRIVATE host/picture_png.cpp)
  target_link_libraries(spihost_pictures PRIVATE PkgConfig::SPNG ZLIB::ZLIB)
elseif(SPIQLM_PNG_CODEC STREQUAL wic)
  target_sources(spihost_pictures PRIVATE host/picture_png_wic.cpp)
  target_link_libraries(spihost_pictures PRIVATE windowscodecs ole32 uuid)
else()
  target_sources(spihost_pictures PRIVATE host/picture_png_none.cpp)
endif()

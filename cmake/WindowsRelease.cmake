# The Windows release: a version resource in the module and in spihost.exe, and a zip archive
# of both with a README, made by cpack (see README.md).

# Each resource is compiled on its own, so none of the targets' C++ options reach windres.
function(spiqlm_version_resource target type description original internal)
  set(SPIQLM_RC_TYPE ${type})
  set(SPIQLM_RC_DESCRIPTION ${description})
  set(SPIQLM_RC_ORIGINAL ${original})
  set(SPIQLM_RC_INTERNAL ${internal})
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  add_library(${target}_version OBJECT ${rc})
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_version>)
endfunction()

spiqlm_version_resource(spiQLM VFT_DLL "Quillmere to DIB filter" spiQLM.spi spiQLM)
spiqlm_version_resource(spihost VFT_APP "spiQLM command-line host" spihost.exe spihost)

if(SPIQLM_ARCH STREQUAL i386)
  set(SPIQLM_RELEASE_NAME win32)
  set(SPIQLM_RELEASE_BITS 32)
else()
  set(SPIQLM_RELEASE_NAME win64)
  set(SPIQLM_RELEASE_BITS 64)
endif()
# Windows' own editors of every age read CRLF.
configure_file(${CMAKE_SOURCE_DIR}/packaging/README.txt.in
  ${CMAKE_BINARY_DIR}/generated/README.txt @ONLY NEWLINE_STYLE CRLF)

# Only this component goes into the archive: whatever else the project installs stays out.
install(TARGETS spiQLM spihost RUNTIME DESTINATION . COMPONENT release)
install(FILES ${CMAKE_BINARY_DIR}/generated/README.txt DESTINATION . COMPONENT release)
# The project has no license file today; once it has one, the archive carries it.
set(SPIQLM_LICENSE "")
foreach(name LICENSE LICENSE.txt LICENSE.md COPYING)
  if(NOT SPIQLM_LICENSE AND EXISTS ${CMAKE_SOURCE_DIR}/${name})
    set(SPIQLM_LICENSE ${CMAKE_SOURCE_DIR}/${name})
  endif()
endforeach()
if(SPIQLM_LICENSE)
  install(FILES ${SPIQLM_LICENSE} DESTINATION . RENAME LICENSE.txt COMPONENT release)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME spiQLM)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(SPIQLM_ARCHIVE_NAME spiQLM-${PROJECT_VERSION}-${SPIQLM_RELEASE_NAME})
set(CPACK_PACKAGE_FILE_NAME ${SPIQLM_ARCHIVE_NAME})
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};spiQLM;release;/")
include(CPack)

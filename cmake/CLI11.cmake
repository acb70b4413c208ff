# CLI11, header-only, for spihost's command line. Debian keeps it in /usr/include, which a cross
# compiler must not search (the rest of that folder is this machine's C library), so a folder
# of the build's own holds a link to CLI/ alone, for every toolchain alike.
find_path(SPIQLM_CLI11_DIR CLI/CLI.hpp PATHS /usr/include /usr/local/include NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT SPIQLM_CLI11_DIR)
  message(FATAL_ERROR "CLI11 not found: scripts/install-deps.sh installs libcli11-dev")
endif()
set(SPIQLM_CLI11_LINK_DIR ${CMAKE_BINARY_DIR}/cli11)
file(MAKE_DIRECTORY ${SPIQLM_CLI11_LINK_DIR})
file(CREATE_LINK ${SPIQLM_CLI11_DIR}/CLI ${SPIQLM_CLI11_LINK_DIR}/CLI SYMBOLIC)
add_library(spiqlm_cli11 INTERFACE)
# As a system folder, so its headers answer to their own warnings, not to ours.
target_include_directories(spiqlm_cli11 SYSTEM INTERFACE ${SPIQLM_CLI11_LINK_DIR})

# The suite's one version number (project(... VERSION ...)), as a header every program's --version reads.
configure_file(${CMAKE_CURRENT_LIST_DIR}/suite_version.h.in ${PROJECT_BINARY_DIR}/generated/suite_version.h @ONLY)
add_library(suite_version INTERFACE)
target_include_directories(suite_version INTERFACE ${PROJECT_BINARY_DIR}/generated)

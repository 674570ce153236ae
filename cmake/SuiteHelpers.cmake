# One static library per subsystem folder: every .cpp of the folder is part of it, except main.cpp,
# which (when present) becomes the executable named by PROGRAM.
# Headers are included from the repository root, e.g. "ravelin/support/log.h".
function(suite_library name)
  cmake_parse_arguments(ARG "" "PROGRAM" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC Threads::Threads ${ARG_LINKS})
  else()
    # A subsystem without sources yet still has a target, so that others can name it.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE Threads::Threads ${ARG_LINKS})
  endif()
  if(ARG_PROGRAM AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    add_executable(${ARG_PROGRAM} ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
    target_link_libraries(${ARG_PROGRAM} PRIVATE ${name})
  endif()
endfunction()

# One GoogleTest executable per test folder: every .cpp of the folder is part of it.
function(suite_test name)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # The code under test keeps the build's optimisation; the tests themselves are compiled without:
  # optimising GoogleTest's expanded macros is most of a test file's compile time, and buys nothing.
  target_compile_options(${name} PRIVATE -O0)
  target_compile_definitions(${name} PRIVATE SUITE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             SUITE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# A development tool that no test runs (the screenshot programs): a sanitizer build, which exists
# only to run the tests, leaves it out of its default build. An explicit --target still builds it.
function(suite_development_tool name)
  if(SUITE_SANITIZE)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON)
  endif()
endfunction()

# GoogleTest: Debian's package on Linux; built from /usr/src/googletest for cross builds.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # googletest's own CMake already defines the GTest:: aliases.
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
# Under Wine every process start costs more than a second: a cross build's test program is one
# CTest test. (The linux-asan preset sets it off too: a sanitized start costs about 0.2 s, and
# the flash suite alone has some 200 cases.)
if(CMAKE_CROSSCOMPILING)
  set(_each_case OFF)
else()
  set(_each_case ON)
endif()
option(ODFLASH_TEST_EACH_CASE "One CTest test per GoogleTest case (otherwise one per test program)" ${_each_case})

# One test program per source folder: every *.cpp of tests/<folder>/ (with the same
# Win32/Posix rule as the sources), linked to the libraries named. ENVIRONMENT: one NAME=VALUE
# the program's tests run with.
#
# With ODFLASH_TEST_EACH_CASE every case is a CTest test of its own, "<program>.<Suite>.<Case>",
# listed from the program just before ctest runs; otherwise the program is one test, named as
# it. Either way the tests carry the program's name as label.
function(odflash_add_test_suite name)
  cmake_parse_arguments(ARG "" "ENVIRONMENT" "LIBS" ${ARGN})
  odflash_folder_sources(_src ${CMAKE_CURRENT_SOURCE_DIR})
  add_executable(${name} ${_src})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock odflash_options)
  target_compile_definitions(${name} PRIVATE ODFLASH_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             ODFLASH_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(_properties LABELS ${name})
  if(ARG_ENVIRONMENT)
    list(APPEND _properties ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(NOT ODFLASH_TEST_EACH_CASE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${_properties})
  else()
    # The names keep a parameterised case's index: its printed value can be a byte dump.
    gtest_discover_tests(${name} TEST_PREFIX "${name}." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         NO_PRETTY_VALUES NO_PRETTY_TYPES
                         PROPERTIES ${_properties})
  endif()
endfunction()

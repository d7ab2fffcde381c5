# GoogleTest: Debian's package on Linux; built from /usr/src/googletest for cross builds.
if(CMAKE_CROSSCOMPILING)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # googletest's own CMake already defines the GTest:: aliases.
else()
  find_package(GTest REQUIRED)
endif()

# One test program per source folder: every *.cpp of tests/<folder>/ (with the same
# Win32/Posix rule as the sources), linked to the libraries named.
function(odflash_add_test_suite name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  odflash_folder_sources(_src ${CMAKE_CURRENT_SOURCE_DIR})
  add_executable(${name} ${_src})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock odflash_options)
  target_compile_definitions(${name} PRIVATE ODFLASH_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             ODFLASH_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
endfunction()

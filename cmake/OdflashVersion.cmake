# The program's version, from one place: the project version, plus the git description when
# built from a checkout. Written at configure time; a new commit makes CMake configure again
# so that the description follows it (an edit since then shows after the next configure).
set(ODFLASH_VERSION_TEXT ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _describe OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _describe_result ERROR_QUIET)
  if(_describe_result EQUAL 0 AND NOT _describe STREQUAL "")
    set(ODFLASH_VERSION_TEXT "${PROJECT_VERSION} (${_describe})")
    foreach(_what logs/HEAD)
      execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path ${_what}
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(_path AND EXISTS ${_path})
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_path})
      endif()
    endforeach()
  endif()
endif()
set(ODFLASH_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionText.h.in ${ODFLASH_GENERATED_DIR}/VersionText.h @ONLY)

# Gives a Windows program its VERSIONINFO resource and its application manifest, which asks
# for the execution level given (default asInvoker, as the command line runs). The resource is
# compiled in a library of its own: the C++ warning options that odflash_options carries mean
# nothing to windres.
function(odflash_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(_manifest_level asInvoker)
  if(ARGC GREATER 2)
    set(_manifest_level ${ARGV2})
  endif()
  set(_manifest_name ${target})
  set(_manifest_description ${description})
  # The program's names go in a header of its own: windres hands definitions to the
  # preprocessor through a shell, which splits a quoted text with spaces.
  set(_dir ${ODFLASH_GENERATED_DIR}/rc/${target})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Manifest.xml.in ${_dir}/${target}.manifest @ONLY)
  file(GENERATE OUTPUT ${_dir}/VersionProgram.h CONTENT
"#define ODFLASH_RC_DESCRIPTION \"${description}\"
#define ODFLASH_RC_FILENAME \"$<TARGET_FILE_NAME:${target}>\"
#define ODFLASH_RC_NAME \"${target}\"
#define ODFLASH_RC_MANIFEST \"${_dir}/${target}.manifest\"
")
  add_library(${target}_version OBJECT ${PROJECT_SOURCE_DIR}/cmake/Version.rc)
  target_include_directories(${target}_version PRIVATE ${ODFLASH_GENERATED_DIR} ${_dir})
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/cmake/Version.rc APPEND PROPERTY OBJECT_DEPENDS ${_dir}/${target}.manifest)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_version>)
endfunction()

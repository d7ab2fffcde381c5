# Compiler settings shared by every target of the project.

add_library(odflash_options INTERFACE)
target_include_directories(odflash_options INTERFACE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(odflash_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)

if(ODFLASH_SANITIZE)
  target_compile_options(odflash_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(odflash_options INTERFACE -fsanitize=address,undefined)
endif()

# Fuzzing: the libraries get libFuzzer's coverage instrumentation without its main; the
# harness programs add -fsanitize=fuzzer themselves (tests/fuzz).
if(ODFLASH_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "ODFLASH_FUZZ needs clang (libFuzzer): use the fuzz preset")
  endif()
  target_compile_options(odflash_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                         -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(odflash_options INTERFACE -fsanitize=address,undefined)
endif()

if(WIN32)
  # Windows programs must run with no MinGW runtime DLL beside them.
  target_link_options(odflash_options INTERFACE -static -static-libgcc -static-libstdc++)
  target_compile_definitions(odflash_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501)
  # The release programs are what users pass around (every flasher is a copy of odflash-gui.exe):
  # built for size, with code and data nothing refers to left out at link time.
  if(CMAKE_BUILD_TYPE STREQUAL "Release" OR CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    target_compile_options(odflash_options INTERFACE -Os -ffunction-sections -fdata-sections)
    target_link_options(odflash_options INTERFACE -Wl,--gc-sections)
  endif()
endif()

# Header-only libraries from Debian (CLI11, nlohmann-json). Cross builds must not see the
# host's /usr/include, so they get a folder that links to those two libraries alone.
add_library(odflash_header_libs INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(_hdr ${PROJECT_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${_hdr})
  foreach(lib CLI nlohmann)
    if(NOT EXISTS ${_hdr}/${lib} AND EXISTS /usr/include/${lib})
      file(CREATE_LINK /usr/include/${lib} ${_hdr}/${lib} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(odflash_header_libs SYSTEM INTERFACE ${_hdr})
endif()

# Collects the sources of a folder: *Win32.cpp only on Windows, *Posix.cpp only elsewhere.
function(odflash_folder_sources out dir)
  file(GLOB _all CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(WIN32)
    file(GLOB _foreign CONFIGURE_DEPENDS ${dir}/*Posix.cpp)
  else()
    file(GLOB _foreign CONFIGURE_DEPENDS ${dir}/*Win32.cpp)
  endif()
  if(_foreign)
    list(REMOVE_ITEM _all ${_foreign})
  endif()
  set(${out} ${_all} PARENT_SCOPE)
endfunction()

# A program that serves as a template for flashers: its debug information and symbol table go
# to a file beside it (linked by .gnu_debuglink, so debuggers still find them), because a flasher
# is a byte copy of its template: every flasher would carry them, and a copy of the payload
# block's bytes in the debug information would be a second block. Every build then checks that
# the block is where the builder finds it, once.
function(odflash_template_program target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -P ${PROJECT_SOURCE_DIR}/cmake/CheckPayloadBlock.cmake
    VERBATIM)
endfunction()

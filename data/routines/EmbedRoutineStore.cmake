# Turns a flash routine store file into a C++ byte list for src/payload/RoutineStore.cpp.
#   cmake -DSTORE=<file> -DOUTPUT=<include file> -P EmbedRoutineStore.cmake
# The store holds the flash chips' programming routines back to back (5606 bytes, in profile
# table order); a file of any other size is refused so that no truncated routine is embedded.
set(kStoreSize 5606)
if(NOT EXISTS "${STORE}")
  message(FATAL_ERROR "Routine store ${STORE} does not exist")
endif()
file(SIZE "${STORE}" size)
if(NOT size EQUAL kStoreSize)
  message(FATAL_ERROR "Routine store ${STORE} holds ${size} bytes; a store holds ${kStoreSize}")
endif()
file(READ "${STORE}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp" "${bytes}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

# cmake -DPROGRAM=file -P CheckPayloadBlock.cmake
# Checks, after linking, that a template program carries its payload block as the builder will
# find it: an image region starting with the builder tag "RUSK", 152 bytes after a marker of 14
# printable characters and a NUL, and that run of 15 bytes nowhere else in the file (a copy in
# debug information would be a second candidate for the builder). This runs for every build,
# including the i686 one that cannot be executed here. The routine store block is checked the
# same way: its marker once in the file, outside the payload block, with the whole store behind it.
cmake_minimum_required(VERSION 3.25)

file(READ "${PROGRAM}" content HEX)
set(tag "5255534b")   # "RUSK"
set(regionOffset 152) # marker (15 bytes) and header (137 bytes)

# The hex position of the first occurrence of needle that starts a byte (an even position),
# from the hex position from on; -1 when there is none.
function(find_bytes out needle from)
  while(TRUE)
    string(SUBSTRING "${content}" ${from} -1 rest)
    string(FIND "${rest}" "${needle}" at)
    if(at EQUAL -1)
      break()
    endif()
    math(EXPR at "${at} + ${from}")
    math(EXPR odd "${at} % 2")
    if(NOT odd)
      set(${out} ${at} PARENT_SCOPE)
      return()
    endif()
    math(EXPR from "${at} + 1")
  endwhile()
  set(${out} -1 PARENT_SCOPE)
endfunction()

set(from 0)
set(markerAt -1)
while(TRUE)
  find_bytes(at "${tag}" ${from})
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM}: no payload block (marker, header, builder tag) found")
  endif()
  math(EXPR from "${at} + 2")
  math(EXPR candidate "${at} - 2 * ${regionOffset}")
  if(candidate LESS 0)
    continue()
  endif()
  string(SUBSTRING "${content}" ${candidate} 30 marker)
  # 14 printable characters (0x20 to 0x7e) and a NUL.
  if(marker MATCHES "^([2-6][0-9a-f]|7[0-9a-e])+00$")
    set(markerAt ${candidate})
    break()
  endif()
endwhile()

# The only run of marker bytes must be the block itself.
find_bytes(first "${marker}" 0)
if(NOT first EQUAL markerAt)
  math(EXPR firstByte "${first} / 2")
  message(FATAL_ERROR "${PROGRAM}: the marker occurs at byte ${firstByte}, before the payload block")
endif()
math(EXPR afterBlock "${markerAt} + 2")
find_bytes(second "${marker}" ${afterBlock})
if(NOT second EQUAL -1)
  math(EXPR secondByte "${second} / 2")
  message(FATAL_ERROR "${PROGRAM}: the marker occurs again at byte ${secondByte}: the block is not unique")
endif()
math(EXPR markerByte "${markerAt} / 2")

# "{odflash:code}" and its NUL, as src/payload/RoutineStore.cpp spells the store block's marker.
set(storeMarker "7b6f64666c6173683a636f64657d00")
set(storeLength 5606)
set(payloadBlockLength 524440) # marker, header and image region
find_bytes(storeAt "${storeMarker}" 0)
if(storeAt EQUAL -1)
  message(FATAL_ERROR "${PROGRAM}: no routine store block found")
endif()
math(EXPR storeByte "${storeAt} / 2")
math(EXPR payloadEnd "${markerByte} + ${payloadBlockLength}")
if(storeByte GREATER_EQUAL markerByte AND storeByte LESS payloadEnd)
  message(FATAL_ERROR "${PROGRAM}: the routine store marker at byte ${storeByte} lies inside the payload block")
endif()
math(EXPR afterStore "${storeAt} + 2")
find_bytes(secondStore "${storeMarker}" ${afterStore})
if(NOT secondStore EQUAL -1)
  math(EXPR secondStoreByte "${secondStore} / 2")
  message(FATAL_ERROR "${PROGRAM}: the routine store marker occurs again at byte ${secondStoreByte}")
endif()
file(SIZE "${PROGRAM}" programBytes)
math(EXPR storeEnd "${storeByte} + 15 + ${storeLength}")
if(storeEnd GREATER programBytes)
  message(FATAL_ERROR "${PROGRAM}: the routine store block at byte ${storeByte} is cut short")
endif()
message(STATUS "${PROGRAM}: payload block at byte ${markerByte}, routine store block at byte ${storeByte}")

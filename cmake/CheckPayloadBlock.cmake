# cmake -DPROGRAM=file -P CheckPayloadBlock.cmake
# Checks, after linking, that a template program carries its payload block as the builder will
# find it: an image region starting with the builder tag "RUSK", 152 bytes after a marker of 14
# printable characters and a NUL, and that run of 15 bytes nowhere else in the file (a copy in
# debug information would be a second candidate for the builder). This runs for every build,
# including the i686 one that cannot be executed here. The routine store block is checked the
# same way: its marker once in the file, outside the payload block, with the whole store behind it,
# and so is the integrity record block, which a template carries empty (zeros behind its marker).
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

set(payloadBlockLength 524440) # marker, header and image region
math(EXPR payloadEnd "${markerByte} + ${payloadBlockLength}")
file(SIZE "${PROGRAM}" programBytes)

# A block of its own beside the payload block: its 15-byte marker (hex) exactly once in the file,
# outside the payload block, with bodyLength bytes behind it. Sets out to its hex position.
function(check_side_block out what marker bodyLength)
  find_bytes(at "${marker}" 0)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PROGRAM}: no ${what} block found")
  endif()
  math(EXPR byte "${at} / 2")
  if(byte GREATER_EQUAL markerByte AND byte LESS payloadEnd)
    message(FATAL_ERROR "${PROGRAM}: the ${what} marker at byte ${byte} lies inside the payload block")
  endif()
  math(EXPR after "${at} + 2")
  find_bytes(second "${marker}" ${after})
  if(NOT second EQUAL -1)
    math(EXPR secondByte "${second} / 2")
    message(FATAL_ERROR "${PROGRAM}: the ${what} marker occurs again at byte ${secondByte}")
  endif()
  math(EXPR blockEnd "${byte} + 15 + ${bodyLength}")
  if(blockEnd GREATER programBytes)
    message(FATAL_ERROR "${PROGRAM}: the ${what} block at byte ${byte} is cut short")
  endif()
  set(${out} ${at} PARENT_SCOPE)
endfunction()

# The markers as src/payload/RoutineStore.cpp and IntegrityRecord.cpp spell them: "{odflash:code}"
# and "{odflash:seal}" with their NUL. The record is a version byte and a 32-byte digest.
check_side_block(storeAt "routine store" "7b6f64666c6173683a636f64657d00" 5606)
check_side_block(recordAt "integrity record" "7b6f64666c6173683a7365616c7d00" 33)
math(EXPR storeByte "${storeAt} / 2")
math(EXPR recordByte "${recordAt} / 2")
math(EXPR recordBodyAt "${recordAt} + 30")
string(SUBSTRING "${content}" ${recordBodyAt} 66 recordBody)
if(NOT recordBody MATCHES "^0+$")
  message(FATAL_ERROR "${PROGRAM}: the integrity record at byte ${recordByte} is not empty: a template carries none")
endif()
message(STATUS "${PROGRAM}: payload block at byte ${markerByte}, routine store block at byte ${storeByte}, "
               "integrity record block at byte ${recordByte}")

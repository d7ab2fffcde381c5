# cmake -DPROGRAM=file -DNAME=name -DSUMMARY=text -DVERSION=x.y.z -DINCLUDE=file.h2m
#       -DHELP2MAN=help2man -DGZIP=gzip -DOUTPUT=name.1 -P ManPage.cmake
# Writes a program's man page from its --help with help2man, gzipped beside OUTPUT. For the
# command line, each command's own help becomes a section of its own, so that the page lists
# every option and not only the commands.
cmake_minimum_required(VERSION 3.25)

set(include "${OUTPUT}.h2m")
file(READ "${INCLUDE}" extra)
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${result}")
endif()

# The commands, as the general help lists them: two spaces, the name, its description.
string(REGEX MATCHALL "\n  [a-z]+ +[A-Z][^\n]*" listed "${help}")
set(sections "")
foreach(line ${listed})
  string(REGEX REPLACE "^\n  ([a-z]+) .*" "\\1" command "${line}")
  if(command STREQUAL "help")
    continue()
  endif()
  execute_process(COMMAND "${PROGRAM}" help ${command} OUTPUT_VARIABLE text RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} help ${command} failed: ${result}")
  endif()
  # The footer (exit codes) is the general help's, shown once above.
  string(FIND "${text}" "\nExit codes:" footer)
  if(footer GREATER -1)
    math(EXPR footer "${footer} + 1")
    string(SUBSTRING "${text}" 0 ${footer} text)
  endif()
  # roff: a backslash is written \e, a minus sign \- (so that options copy as typed), and a
  # line may not start with a dot or quote.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" text "${text}")
  string(APPEND sections ".SS \"${NAME} ${command}\"\n.nf\n${text}.fi\n")
endforeach()
if(sections)
  set(extra "[COMMANDS]\n${sections}\n${extra}")
endif()
file(WRITE "${include}" "${extra}")

execute_process(COMMAND "${HELP2MAN}" --no-info --version-string=${VERSION} --name=${SUMMARY}
                        --include=${include} --output=${OUTPUT} "${PROGRAM}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}: ${result}")
endif()
execute_process(COMMAND "${GZIP}" -9nf "${OUTPUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${OUTPUT}: ${result}")
endif()

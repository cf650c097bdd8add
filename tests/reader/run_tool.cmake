# Runs one buslog-host log tool command and checks its exit status, what it
# printed, and the file it wrote.
#   -DHOST=program -DEMULATOR=wine-or-empty -DARGS=a|b|c -DEXIT=0
#   -DSTDOUT=regex -DSTDERR=regex -DOUTPUT=path -DEXPECTED=file
#   -DEXISTING=text   OUTPUT holds this text before the run and must still
#                     hold it after (a refused overwrite)
#   -DEXPECTED=ABSENT OUTPUT must not exist after the run
#   -DINPUT=file      standard input comes from this file
string(REPLACE "|" ";" args "${ARGS}")
if(OUTPUT)
  file(REMOVE "${OUTPUT}")
  if(DEFINED EXISTING)
    file(WRITE "${OUTPUT}" "${EXISTING}")
  endif()
endif()
set(stdin "")
if(INPUT)
  set(stdin INPUT_FILE ${INPUT})
endif()
execute_process(COMMAND ${EMULATOR} ${HOST} ${args} ${stdin} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
# Every failure of the tools says why; exit status 1 without a word under
# Wine is Wine failing to start the program (seen once in a busy run).
if(EMULATOR AND "${status}" STREQUAL "1" AND "${out}${err}" STREQUAL "")
  message("Wine started nothing (exit status 1, no output); trying once more")
  execute_process(COMMAND ${EMULATOR} ${HOST} ${args} ${stdin} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
endif()
message("${out}${err}")
if(NOT "${status}" STREQUAL "${EXIT}")
  message(FATAL_ERROR "exit status ${status}, expected ${EXIT}")
endif()
if(STDOUT AND NOT out MATCHES "${STDOUT}")
  message(FATAL_ERROR "standard output does not match: ${STDOUT}")
endif()
if(STDERR AND NOT err MATCHES "${STDERR}")
  message(FATAL_ERROR "standard error does not match: ${STDERR}")
endif()
if(DEFINED EXISTING)
  file(READ "${OUTPUT}" kept)
  if(NOT kept STREQUAL EXISTING)
    message(FATAL_ERROR "${OUTPUT} was changed")
  endif()
endif()
if(EXPECTED STREQUAL "ABSENT")
  if(EXISTS "${OUTPUT}")
    message(FATAL_ERROR "${OUTPUT} was left behind")
  endif()
elseif(EXPECTED)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}" "${EXPECTED}" RESULT_VARIABLE differ)
  if(differ)
    execute_process(COMMAND diff "${EXPECTED}" "${OUTPUT}")
    message(FATAL_ERROR "${OUTPUT} differs from ${EXPECTED}")
  endif()
endif()

# A trace whose clock steps back by an hour, then jumps 100,000,000 s ahead,
# then past 32-bit seconds, replayed without --rotate-*: buslog-host begins a
# new file with its own time base at each jump (named as a rotation names its
# files: e2e-jumps.log, e2e-jumps-002.log, ...), says so, and the files read
# back as one by `convert --to candump` without options give the trace back
# byte for byte, its absolute times and interface names from the markers.
#   -DHOST=buslog-host -DEMULATOR=wine-or-empty -DTRACE=time-jumps.candump
#   -DWORK=the module's folder -DEXPECTED_DIR=dir with time-jumps*.log
function(run)
  execute_process(COMMAND ${EMULATOR} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nexit status ${status}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

file(GLOB old ${WORK}/e2e-jumps*.log ${WORK}/e2e-jumps.candump)
if(old)
  file(REMOVE ${old})
endif()
run(${HOST} replay ${TRACE} --name e2e-jumps.log)
message("${err}")
foreach(expected
        "time jump: 3601.000000 s before the file's latest frame: the clock went back; a new file with its own time base begins here: [^\n]*e2e-jumps-002.log"
        "time jump: 100003600.000000 s after the file's first frame, more than its time stamps can show; a new file with its own time base begins here: [^\n]*e2e-jumps-003.log"
        "time-jumps.candump:8: time jump: 2494967296.500000 s after the file's first frame"
        "time jumps      3 .each began a new file with its own time base.")
  if(NOT err MATCHES "${expected}")
    message(FATAL_ERROR "standard error does not say: ${expected}")
  endif()
endforeach()
set(logs "")
foreach(name time-jumps time-jumps-002 time-jumps-003 time-jumps-004)
  string(REPLACE "time-jumps" "e2e-jumps" written ${name})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${written}.log ${EXPECTED_DIR}/${name}.log
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${WORK}/${written}.log differs from ${EXPECTED_DIR}/${name}.log")
  endif()
  list(APPEND logs ${WORK}/${written}.log)
endforeach()
run(${HOST} convert ${logs} --to candump --output ${WORK}/e2e-jumps.candump)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/e2e-jumps.candump ${TRACE} RESULT_VARIABLE differ)
if(differ)
  file(READ ${WORK}/e2e-jumps.candump back)
  message(FATAL_ERROR "the logs read back as one are not the trace:\n${back}")
endif()
message("the four logs give the trace back, times and names")

# A trace whose clock steps back by an hour, then jumps 100,000,000 s ahead,
# then past 32-bit seconds, replayed without --rotate-*: buslog-host begins a
# new time base at each jump, in the same file (a start marker line), or
# with --time-base-per-file in a new file (named as a rotation names its
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

# jumps(SUFFIX OPTIONS EXPECTED_NAMES MESSAGES): one replay, its files
# against the expected ones, and the files read back as one.
function(jumps suffix options names messages)
  file(GLOB old ${WORK}/e2e-jumps*.log ${WORK}/e2e-jumps.candump)
  if(old)
    file(REMOVE ${old})
  endif()
  run(${HOST} replay ${TRACE} --name e2e-jumps.log ${options})
  message("${err}")
  foreach(expected IN LISTS messages)
    if(NOT err MATCHES "${expected}")
      message(FATAL_ERROR "standard error does not say: ${expected}")
    endif()
  endforeach()
  set(logs "")
  set(number 1)
  foreach(name IN LISTS names)
    if(number EQUAL 1)
      set(written e2e-jumps.log)
    else()
      set(written e2e-jumps-00${number}.log)
    endif()
    math(EXPR number "${number} + 1")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/${written} ${EXPECTED_DIR}/${name}.log
                    RESULT_VARIABLE differ)
    if(differ)
      message(FATAL_ERROR "${WORK}/${written} differs from ${EXPECTED_DIR}/${name}.log")
    endif()
    list(APPEND logs ${WORK}/${written})
  endforeach()
  if(EXISTS ${WORK}/e2e-jumps-00${number}.log)
    message(FATAL_ERROR "more files than expected: ${WORK}/e2e-jumps-00${number}.log")
  endif()
  run(${HOST} convert ${logs} --to candump --output ${WORK}/e2e-jumps.candump)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/e2e-jumps.candump ${TRACE} RESULT_VARIABLE differ)
  if(differ)
    file(READ ${WORK}/e2e-jumps.candump back)
    message(FATAL_ERROR "the logs read back as one are not the trace:\n${back}")
  endif()
  message("${suffix}: the logs give the trace back, times and names")
endfunction()

# By default each jump begins a new time base in the same file.
jumps(one-file "" "time-jumps-one-file" [==[time jump at frame 4: 3601.000000 s before the latest frame \(the clock went back\); a new time base begins;time jump at frame 7: 100003599.999900 s after the latest frame, more than a time stamp can show; a new time base begins;time jump at frame 8: 2494967296.500000 s after the latest frame;time jumps      3 .each began a new time base.]==])
# One time base a file: each jump begins a new file.
jumps(per-file "--time-base-per-file" "time-jumps;time-jumps-002;time-jumps-003;time-jumps-004" [==[time jump at frame 4: 3601.000000 s before the latest frame \(the clock went back\); a new file with its own time base begins; going on in [^
]*e2e-jumps-002.log;time jump at frame 7: 100003599.999900 s after the latest frame, more than a time stamp can show; a new file with its own time base begins; going on in [^
]*e2e-jumps-003.log;time jumps      3 .each began a new time base.]==])

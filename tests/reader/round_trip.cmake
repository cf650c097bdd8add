# Round trip of one candump trace: replay it through the module, convert the
# log back with `buslog-host convert --to candump`, and compare the frames.
#   -DHOST=buslog-host -DTOOL=round_trip_tool -DEMULATOR=wine-or-empty
#   -DTRACE=path|GENERATE -DWORK=dir (beside the module: the log lands there)
#   -DNAME=short name
if(NOT TRACE STREQUAL "GENERATE" AND NOT EXISTS "${TRACE}")
  message("SKIPPED: ${TRACE} is not here")
  return()
endif()
function(run)
  execute_process(COMMAND ${EMULATOR} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nexit status ${status}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

if(TRACE STREQUAL "GENERATE")
  set(TRACE "${WORK}/rt-${NAME}.candump")
  run(${TOOL} generate ${TRACE})
endif()
run(${TOOL} first-time ${TRACE})
set(start "${out}")
run(${TOOL} interfaces ${TRACE})
set(interfaces "${out}")
set(log "rt-${NAME}.log")
run(${HOST} replay ${TRACE} --name ${log} --quiet)
run(${HOST} convert ${WORK}/${log} --to candump --start ${start} --interfaces ${interfaces} --direction
    --output ${WORK}/rt-${NAME}.out.candump --overwrite)
message("${err}")
run(${TOOL} compare ${TRACE} ${WORK}/rt-${NAME}.out.candump ${start})
message("${out}")

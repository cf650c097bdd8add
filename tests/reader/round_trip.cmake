# Round trip of one candump trace: replay it through the module, convert the
# log back with `buslog-host convert --to candump`, and compare the frames.
#   -DHOST=buslog-host -DTOOL=round_trip_tool -DEMULATOR=wine-or-empty
#   -DTRACE=path|GENERATE -DWORK=dir (a folder of the round trips' own, made here)
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

file(MAKE_DIRECTORY ${WORK})
if(TRACE STREQUAL "GENERATE")
  set(TRACE "${WORK}/rt-${NAME}.candump")
  run(${TOOL} generate ${TRACE})
endif()
# The trace's first time stamp, and its interfaces in order of appearance
# (the replay numbers the channels so).
file(STRINGS ${TRACE} frames REGEX "^ *\\([0-9]+\\.[0-9]+\\)[ \t]+[^ \t]+[ \t]")
set(start "")
set(interfaces "")
foreach(frame IN LISTS frames)
  string(REGEX MATCH "^ *\\(([0-9]+\\.[0-9]+)\\)[ \t]+([^ \t]+)" found "${frame}")
  if(start STREQUAL "")
    set(start "${CMAKE_MATCH_1}")
  endif()
  list(FIND interfaces "${CMAKE_MATCH_2}" known)
  if(known EQUAL -1)
    list(APPEND interfaces "${CMAKE_MATCH_2}")
  endif()
endforeach()
string(REPLACE ";" "," interfaces "${interfaces}")
set(log "${WORK}/rt-${NAME}.buslog")
run(${HOST} replay ${TRACE} --output ${log} --quiet --overwrite)
run(${HOST} convert ${log} --to candump --start ${start} --interfaces ${interfaces} --direction
    --output ${WORK}/rt-${NAME}.out.candump --overwrite)
message("${err}")
run(${TOOL} compare ${TRACE} ${WORK}/rt-${NAME}.out.candump)
message("${out}")
# Without --start and --interfaces the log's own markers give the same
# absolute times and interface names.
run(${HOST} convert ${log} --to candump --direction --output ${WORK}/rt-${NAME}.markers.candump --overwrite)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/rt-${NAME}.out.candump
                        ${WORK}/rt-${NAME}.markers.candump RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "convert without --start and --interfaces differs from convert with them")
endif()
run(${TOOL} compare ${TRACE} ${WORK}/rt-${NAME}.markers.candump)
message("from the markers alone: ${out}")

# can-utils reads the converted file too (native builds, where log2asc is).
find_program(LOG2ASC log2asc)
if(LOG2ASC AND NOT EMULATOR)
  string(REPLACE "," ";" interfaceList "${interfaces}")
  execute_process(COMMAND ${LOG2ASC} -I ${WORK}/rt-${NAME}.out.candump -O ${WORK}/rt-${NAME}.asc ${interfaceList}
                  RESULT_VARIABLE status)
  file(STRINGS ${WORK}/rt-${NAME}.asc ascFrames REGEX "^ *[0-9]+\\.[0-9]+ ")
  list(LENGTH ascFrames ascCount)
  string(REGEX MATCH "^[0-9]+" frameCount "${out}")
  if(NOT status EQUAL 0 OR NOT ascCount EQUAL frameCount)
    message(FATAL_ERROR "log2asc read ${ascCount} of ${frameCount} frames (status ${status})")
  endif()
  message("log2asc read all ${ascCount} frames")
endif()

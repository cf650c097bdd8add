# Runs examples/c-batch in a folder of its own with a copy of the module:
# it logs the same frames in batches and one Write each, and the two logs
# must be byte-identical, the batched one written with far fewer Writes.
#   -DPROGRAM=c-batch -DEMULATOR=wine-or-empty -DMODULE=module -DWORK=folder
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
get_filename_component(moduleName "${MODULE}" NAME)
file(COPY "${MODULE}" DESTINATION "${WORK}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} "${WORK}/${moduleName}" batched.log single.log
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "c-batch exit status ${status}")
endif()
if(NOT out MATCHES "batched.log: 300 frames in 5 Writes" OR NOT out MATCHES "single.log: 300 frames in 300 Writes")
  message(FATAL_ERROR "not the Writes expected")
endif()
file(SIZE "${WORK}/batched.log" size)
if(size LESS 15000)
  message(FATAL_ERROR "batched.log holds only ${size} bytes")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/batched.log" "${WORK}/single.log"
                RESULT_VARIABLE same)
if(NOT same STREQUAL "0")
  message(FATAL_ERROR "the batched log differs from the one written a line a Write")
endif()
file(REMOVE_RECURSE "${WORK}")

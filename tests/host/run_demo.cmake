# Runs buslog-host demo three times in a fresh working folder, the way a
# user does after installing: the logs appear there (never beside the
# module), a second run takes the next free names and leaves the user's
# files as they are, --overwrite replaces them.
#   -DHOST=program -DEMULATOR=wine-or-empty -DWORK=folder -DEXPECTED_DIR=folder
#   -DMODULE_DIR=folder of the module
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(REMOVE "${MODULE_DIR}/demo-can.buslog")

function(run_demo)
  execute_process(COMMAND ${EMULATOR} ${HOST} demo --quiet ${ARGN} WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "demo ${ARGN}: exit status ${status}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# `log` in the work folder holds exactly the bytes of `expected`.
function(expect_bytes log expected)
  if(NOT EXISTS "${WORK}/${log}")
    file(GLOB present RELATIVE "${WORK}" "${WORK}/*")
    message(FATAL_ERROR "${log} is not in the work folder (there: ${present})")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/${log}" "${expected}" RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${log} differs from ${expected}")
  endif()
endfunction()

# The demo shows each log under its full path in the work folder.
function(expect_shown log)
  get_filename_component(folder "${WORK}" NAME)
  if(NOT out MATCHES "== [^\n]*${folder}[\\/]${log}\r?\n")
    message(FATAL_ERROR "the demo does not show ${log} in its work folder:\n${out}")
  endif()
endfunction()

run_demo()
expect_bytes(demo-can.buslog "${EXPECTED_DIR}/demo-can.log")
expect_bytes(demo-script.buslog "${EXPECTED_DIR}/demo-script.log")
expect_shown(demo-can.buslog)
expect_shown(demo-script.buslog)
if(EXISTS "${MODULE_DIR}/demo-can.buslog")
  message(FATAL_ERROR "the demo wrote demo-can.buslog beside the module")
endif()

# The user's own files of those names are kept.
file(WRITE "${WORK}/demo-can.buslog" "mine\n")
file(WRITE "${WORK}/demo-script.buslog" "mine too\n")
file(WRITE "${WORK}/mine" "mine\n")
file(WRITE "${WORK}/mine too" "mine too\n")
run_demo()
expect_bytes(demo-can.buslog "${WORK}/mine")
expect_bytes(demo-script.buslog "${WORK}/mine too")
expect_bytes(demo-can-2.buslog "${EXPECTED_DIR}/demo-can.log")
expect_bytes(demo-script-2.buslog "${EXPECTED_DIR}/demo-script.log")
expect_shown(demo-can-2.buslog)
expect_shown(demo-script-2.buslog)

# --overwrite replaces them, and makes no further names.
run_demo(--overwrite)
expect_bytes(demo-can.buslog "${EXPECTED_DIR}/demo-can.log")
expect_bytes(demo-script.buslog "${EXPECTED_DIR}/demo-script.log")
expect_shown(demo-can.buslog)
expect_shown(demo-script.buslog)
file(GLOB third "${WORK}/demo-*-3.log")
if(third)
  message(FATAL_ERROR "--overwrite made ${third}")
endif()

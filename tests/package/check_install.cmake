# What an installed buslog gives a host author, one step per MODE:
#   install      cmake --install --strip into the build's package-test/install;
#                every file is there, the module is stripped (the DLL at most
#                64 KiB, importing only system DLLs, its version resource
#                from the project's version), and the installed host's demo runs
#   c-cmake      examples/c-host built through find_package(buslog)
#   c-pkgconfig  examples/c-host built with pkg-config --cflags --libs buslog
#   python       examples/python-ctypes/host.py
#   writer-cmake      examples/c-writer built through find_package(buslog)
#   writer-pkgconfig  examples/c-writer built with pkg-config buslog-writer
# The example hosts, run in a folder of their own as the current directory,
# log there, and their logs must equal the installed expected.buslog. The
# C writer logs the installed demo trace, and its log must be the one the
# installed buslog-host replays of it, but for the writer marker.
#   -DMODE=... -DBUILD_DIR=... -DSOURCE_DIR=... -DWINDOWS=ON|OFF -DVERSION=...
#   [-DEMULATOR=wine] [-DC_COMPILER=...] [-DTOOLCHAIN=...] [-DOBJDUMP=...] [-DNM=...]
#   [-DPYTHON=...]
include(${CMAKE_CURRENT_LIST_DIR}/check_demo.cmake)
set(work ${BUILD_DIR}/package-test)
set(prefix ${work}/install)
if(WINDOWS)
  set(module ${prefix}/bin/buslog.dll)
  set(host ${prefix}/bin/buslog-host.exe)
  set(exe .exe)
else()
  set(module ${prefix}/lib/libbuslog.so)
  set(host ${prefix}/bin/buslog-host)
  set(exe "")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(status)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# Runs an example host as the README shows, in a fresh folder of its own
# (FOLDER) as the current directory, and compares the log it names ("log:
# PATH") with the installed expected.buslog: the log must be LOG in FOLDER,
# none beside the module.
function(check_example_log folder log)
  file(REMOVE_RECURSE ${folder})
  get_filename_component(logFolder ${folder}/${log} DIRECTORY)
  file(MAKE_DIRECTORY ${logFolder})
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${folder} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(status)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  string(REGEX MATCH "log: ([^\r\n]+)" found "${out}")
  if(NOT found)
    message(FATAL_ERROR "the example did not say where its log is:\n${out}")
  endif()
  if(NOT EXISTS ${folder}/${log})
    message(FATAL_ERROR "no ${log} in the current directory ${folder}; the example said ${found}")
  endif()
  file(GLOB stray ${prefix}/lib/*.buslog ${prefix}/bin/*.buslog ${prefix}/lib/*.log ${prefix}/bin/*.log)
  if(stray)
    message(FATAL_ERROR "logs beside the module: ${stray}")
  endif()
  file(READ ${folder}/${log} actual HEX)
  file(READ ${prefix}/share/doc/buslog/examples/c-host/expected.buslog expected HEX)
  if(NOT actual STREQUAL expected)
    file(READ ${folder}/${log} text)
    message(FATAL_ERROR "${log} differs from the installed examples/c-host/expected.buslog:\n${text}")
  endif()
  message(STATUS "${folder}/${log} as expected (${found})")
endfunction()

# Runs the installed examples/c-writer PROGRAM on the installed demo trace
# in a fresh FOLDER, and compares its log with the installed host's replay
# of the same trace (the engine is the same; the writer markers differ). The
# program finds the engine library in the install (Wine: WINEPATH), and the
# engine the module beside itself.
function(check_writer_example folder program)
  file(REMOVE_RECURSE ${folder})
  file(MAKE_DIRECTORY ${folder})
  set(trace ${prefix}/share/buslog/samples/demo.candump)
  if(WINDOWS)
    string(REPLACE "/" "\\" libraries "Z:${prefix}/bin")
    set(environment WINEPATH=${libraries})
  else()
    set(environment LD_LIBRARY_PATH=${prefix}/lib)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment} ${EMULATOR} ${program} ${trace} writer.buslog
                  WORKING_DIRECTORY ${folder} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(status OR NOT out MATCHES "log: writer.buslog")
    message(FATAL_ERROR "c-writer failed (${status}):\n${out}${err}")
  endif()
  run(${EMULATOR} ${host} replay ${trace} --output ${folder}/host.buslog --quiet)
  # Byte for byte (file(READ) without HEX drops CRs), writer markers aside.
  file(READ ${folder}/writer.buslog written HEX)
  file(READ ${folder}/host.buslog replayed HEX)
  string(HEX "buslog writer c-writer 1.0\r\n" ours)
  string(HEX "buslog writer buslog-host ${VERSION}\r\n" theirs)
  string(FIND "${written}" "${ours}" at)
  string(REPLACE "${ours}" "${theirs}" written "${written}")
  if(at EQUAL -1 OR NOT written STREQUAL replayed)
    file(READ ${folder}/writer.buslog text)
    message(FATAL_ERROR "c-writer's log is not buslog-host's replay of ${trace}, writer marker aside:\n${text}")
  endif()
  message(STATUS "${folder}/writer.buslog is buslog-host's replay of the demo trace, byte for byte")
endfunction()

set(strict_c_flags "-Wall -Wextra -Wpedantic -Werror")

# Builds examples/EXAMPLE into DIR through find_package(buslog) against the
# install, cross-built with the toolchain when there is one.
function(build_through_cmake example dir)
  file(REMOVE_RECURSE ${dir})
  set(cross "")
  if(TOOLCHAIN)
    set(cross -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
  endif()
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/${example} -B ${dir} ${cross} -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS=${strict_c_flags}")
  run(${CMAKE_COMMAND} --build ${dir})
endfunction()

if(MODE STREQUAL "install")
  file(REMOVE_RECURSE ${work})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --strip)
  foreach(file include/buslog.h include/buslog_loader.h include/buslog_reader.h include/buslog_writer.h
               lib/cmake/buslog/buslogConfig.cmake lib/pkgconfig/buslog.pc lib/pkgconfig/buslog-reader.pc
               lib/pkgconfig/buslog-writer.pc share/buslog/samples/demo.candump share/buslog/samples/demo.script
               share/doc/buslog/examples/c-host/host.c share/doc/buslog/examples/c-host/expected.buslog
               share/doc/buslog/examples/c-writer/writer.c share/doc/buslog/examples/python-ctypes/host.py)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "the install lacks ${file}")
    endif()
  endforeach()
  if(WINDOWS)
    set(readme ${prefix}/README.md)
  else()
    set(readme ${prefix}/share/doc/buslog/README.md)
  endif()
  if(WINDOWS)
    set(libraries ${prefix}/bin/buslog-reader.dll ${prefix}/bin/buslog-writer.dll)
  else()
    set(libraries ${prefix}/lib/libbuslog-reader.so ${prefix}/lib/libbuslog-writer.so)
  endif()
  foreach(file ${module} ${host} ${readme} ${libraries})
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "the install lacks ${file}")
    endif()
  endforeach()
  file(STRINGS ${prefix}/lib/pkgconfig/buslog.pc pcVersion REGEX "^Version: ")
  if(NOT pcVersion STREQUAL "Version: ${VERSION}")
    message(FATAL_ERROR "buslog.pc says '${pcVersion}', the project ${VERSION}")
  endif()
  if(WINDOWS)
    file(SIZE ${module} size)
    message(STATUS "stripped buslog.dll: ${size} bytes")
    if(size GREATER 65536)
      message(FATAL_ERROR "the stripped buslog.dll has ${size} bytes, more than 64 KiB")
    endif()
    run(${OBJDUMP} -h ${module})
    if(out MATCHES "\\.debug_")
      message(FATAL_ERROR "the installed buslog.dll still has debug sections")
    endif()
    run(bash ${SOURCE_DIR}/tests/check_exports.sh windows ${module} ${OBJDUMP})
    # The version resource holds the version as UTF-16 text.
    string(HEX "${VERSION}" versionHex)
    string(REGEX REPLACE "(..)" "\\100" versionUtf16 "${versionHex}")
    file(READ ${module} dll HEX)
    string(FIND "${dll}" "${versionUtf16}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "buslog.dll's version resource lacks ${VERSION}")
    endif()
  else()
    execute_process(COMMAND ${NM} ${module} OUTPUT_VARIABLE symbols ERROR_VARIABLE symbols)
    if(NOT symbols MATCHES "no symbols")
      message(FATAL_ERROR "the installed libbuslog.so still has a symbol table")
    endif()
    run(bash ${SOURCE_DIR}/tests/check_exports.sh posix ${module} ${NM})
  endif()
  # The installed host finds the installed module and samples by itself;
  # its logs go into the current folder, none beside the module.
  check_demo(${host} ${prefix} ${work}/demo "the installed host's demo")
elseif(MODE STREQUAL "c-cmake")
  build_through_cmake(c-host ${work}/c-cmake)
  check_example_log(${work}/c-cmake-run c-host.buslog ${EMULATOR} ${work}/c-cmake/c-host${exe})
elseif(MODE STREQUAL "c-pkgconfig")
  # Only the installed .pc file is seen, not the machine's.
  set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  run(pkg-config --cflags --libs buslog)
  string(STRIP "${out}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(pkg-config --variable=module buslog)
  string(STRIP "${out}" modulePath)
  file(MAKE_DIRECTORY ${work}/c-pkgconfig)
  set(program ${work}/c-pkgconfig/c-host${exe})
  separate_arguments(cflags UNIX_COMMAND "${strict_c_flags}")
  # As the README builds it: the module's path from pkg-config compiled in,
  # so that the host runs without an argument.
  run(${C_COMPILER} -std=c99 ${cflags} -o ${program} ${SOURCE_DIR}/examples/c-host/host.c ${flags}
      "-DBUSLOG_MODULE_PATH=\"${modulePath}\"")
  check_example_log(${work}/c-pkgconfig-run c-host.buslog ${EMULATOR} ${program})
  # A log named on the command line, relative to the current directory.
  check_example_log(${work}/c-pkgconfig-named sub/mine.buslog ${EMULATOR} ${program} ${modulePath} sub/mine.buslog)
elseif(MODE STREQUAL "writer-cmake")
  build_through_cmake(c-writer ${work}/writer-cmake)
  check_writer_example(${work}/writer-cmake-run ${work}/writer-cmake/c-writer${exe})
elseif(MODE STREQUAL "writer-pkgconfig")
  set(ENV{PKG_CONFIG_LIBDIR} ${prefix}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  run(pkg-config --cflags --libs buslog-writer)
  string(STRIP "${out}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  file(MAKE_DIRECTORY ${work}/writer-pkgconfig)
  set(program ${work}/writer-pkgconfig/c-writer${exe})
  separate_arguments(cflags UNIX_COMMAND "${strict_c_flags}")
  run(${C_COMPILER} -std=c99 ${cflags} -o ${program} ${SOURCE_DIR}/examples/c-writer/writer.c ${flags})
  check_writer_example(${work}/writer-pkgconfig-run ${program})
elseif(MODE STREQUAL "python")
  check_example_log(${work}/python-run python-host.buslog ${PYTHON}
                    ${prefix}/share/doc/buslog/examples/python-ctypes/host.py ${module})
else()
  message(FATAL_ERROR "unknown MODE ${MODE}")
endif()

# The release package of this build, made as scripts/package.sh makes it,
# unpacked as a user would (dpkg-deb -x for the Debian package, cmake -E tar
# for the zip): it holds what it should, and buslog-host demo runs from the
# unpacked tree (the Windows one under Wine).
#   -DBUILD_DIR=... -DWINDOWS=ON|OFF -DVERSION=... [-DEMULATOR=wine]
include(${CMAKE_CURRENT_LIST_DIR}/check_demo.cmake)
set(work ${BUILD_DIR}/package-files)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/unpacked)

execute_process(COMMAND cpack --config ${BUILD_DIR}/CPackConfig.cmake -B ${work}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(status)
  message(FATAL_ERROR "cpack failed:\n${out}${err}")
endif()

if(WINDOWS)
  set(package ${work}/buslog-${VERSION}-win64.zip)
  set(root ${work}/unpacked/buslog-${VERSION}-win64)
  set(host ${root}/bin/buslog-host.exe)
  set(expected bin/buslog.dll bin/buslog-reader.dll bin/buslog-writer.dll bin/buslog-host.exe include/buslog.h
               include/buslog_loader.h include/buslog_reader.h include/buslog_writer.h README.md
               share/buslog/samples/demo.candump share/buslog/samples/demo.script
               lib/cmake/buslog/buslogConfig.cmake lib/pkgconfig/buslog.pc lib/pkgconfig/buslog-writer.pc)
  if(NOT EXISTS ${package})
    message(FATAL_ERROR "no ${package}:\n${out}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${package} WORKING_DIRECTORY ${work}/unpacked
                  RESULT_VARIABLE status)
else()
  set(package ${work}/buslog_${VERSION}_amd64.deb)
  set(root ${work}/unpacked/usr)
  set(host ${root}/bin/buslog-host)
  set(expected lib/libbuslog.so lib/libbuslog-reader.so lib/libbuslog-writer.so bin/buslog-host include/buslog.h
               include/buslog_loader.h include/buslog_reader.h include/buslog_writer.h
               share/buslog/samples/demo.candump share/buslog/samples/demo.script share/doc/buslog/README.md
               lib/cmake/buslog/buslogConfig.cmake lib/pkgconfig/buslog.pc lib/pkgconfig/buslog-writer.pc)
  if(NOT EXISTS ${package})
    message(FATAL_ERROR "no ${package}:\n${out}")
  endif()
  execute_process(COMMAND dpkg-deb -f ${package} Package Version Architecture OUTPUT_VARIABLE fields)
  if(NOT fields MATCHES "Package: buslog\nVersion: ${VERSION}\nArchitecture: amd64")
    message(FATAL_ERROR "unexpected control fields:\n${fields}")
  endif()
  execute_process(COMMAND dpkg-deb -x ${package} ${work}/unpacked RESULT_VARIABLE status)
endif()
if(status)
  message(FATAL_ERROR "cannot unpack ${package}")
endif()
foreach(file ${expected})
  if(NOT EXISTS ${root}/${file})
    message(FATAL_ERROR "${package} lacks ${file}")
  endif()
endforeach()

# The demo from the unpacked tree; its logs go into the current folder,
# none beside the module (writable here, but not once installed).
check_demo(${host} ${root} ${work}/demo "buslog-host demo from the unpacked ${package}")
file(SIZE ${package} size)
message(STATUS "${package}: ${size} bytes, demo ran from the unpacked tree")

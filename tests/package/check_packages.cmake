# The release packages of this build, made as scripts/package.sh makes them,
# unpacked as a user would (dpkg-deb -x for the Debian packages, cmake -E tar
# for the zip): they hold what they should, and buslog-host demo runs from
# the unpacked tree (the Windows one under Wine). The Debian package
# python3-buslog, unpacked beside buslog, declares what it needs from Debian,
# and its python package works from there (check_python_package.py).
#   -DBUILD_DIR=... -DWINDOWS=ON|OFF -DVERSION=... [-DEMULATOR=wine]
#   [-DPYTHON=/usr/bin/python3 -DSOURCE_DIR=...]
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
  set(pythonPackage ${work}/python3-buslog_${VERSION}_all.deb)
  set(root ${work}/unpacked/usr)
  set(host ${root}/bin/buslog-host)
  set(sitePackages lib/python3/dist-packages)
  set(expected lib/libbuslog.so lib/libbuslog-reader.so lib/libbuslog-writer.so bin/buslog-host include/buslog.h
               include/buslog_loader.h include/buslog_reader.h include/buslog_writer.h
               share/buslog/samples/demo.candump share/buslog/samples/demo.script share/doc/buslog/README.md
               lib/cmake/buslog/buslogConfig.cmake lib/pkgconfig/buslog.pc lib/pkgconfig/buslog-writer.pc
               ${sitePackages}/buslog/__init__.py ${sitePackages}/buslog-${VERSION}.dist-info/entry_points.txt)
  foreach(deb ${package} ${pythonPackage})
    if(NOT EXISTS ${deb})
      message(FATAL_ERROR "no ${deb}:\n${out}")
    endif()
  endforeach()
  execute_process(COMMAND dpkg-deb -f ${package} Package Version Architecture OUTPUT_VARIABLE fields)
  if(NOT fields MATCHES "Package: buslog\nVersion: ${VERSION}\nArchitecture: amd64")
    message(FATAL_ERROR "unexpected control fields:\n${fields}")
  endif()
  execute_process(COMMAND dpkg-deb -f ${pythonPackage} Package Version Architecture Depends OUTPUT_VARIABLE fields)
  if(NOT fields MATCHES "Package: python3-buslog\nVersion: ${VERSION}\nArchitecture: all\n")
    message(FATAL_ERROR "unexpected control fields of python3-buslog:\n${fields}")
  endif()
  foreach(need "buslog \\(= ${VERSION}\\)" python3-can python3-canmatrix python3-matplotlib python3-numpy)
    if(NOT fields MATCHES "Depends: (.*, )?${need}[ ,\n]")
      message(FATAL_ERROR "python3-buslog does not depend on ${need}:\n${fields}")
    endif()
  endforeach()
  # No file in both packages: dpkg would refuse the second.
  execute_process(COMMAND dpkg-deb -c ${package} OUTPUT_VARIABLE listing)
  if(listing MATCHES "/python3/")
    message(FATAL_ERROR "${package} holds python files:\n${listing}")
  endif()
  execute_process(COMMAND dpkg-deb -c ${pythonPackage} OUTPUT_VARIABLE listing)
  string(REGEX REPLACE "[^\n]* \\./(usr/(lib/(python3/(dist-packages/[^\n]*)?)?)?)?\n" "" strays "${listing}")
  if(strays)
    message(FATAL_ERROR "${pythonPackage} holds more than the python package:\n${strays}")
  endif()
  execute_process(COMMAND dpkg-deb -x ${pythonPackage} ${work}/unpacked RESULT_VARIABLE status)
  if(status)
    message(FATAL_ERROR "cannot unpack ${pythonPackage}")
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

if(NOT WINDOWS)
  # Debian's python3 with the unpacked tree where an installed one would be
  # on its path; the package must find the module by itself.
  file(MAKE_DIRECTORY ${work}/python)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=BUSLOG_MODULE PYTHONPATH=${root}/${sitePackages}
                          PYTHONDONTWRITEBYTECODE=1 MPLBACKEND=Agg
                          ${PYTHON} ${SOURCE_DIR}/tests/package/check_python_package.py ${root} ${VERSION}
                  WORKING_DIRECTORY ${work}/python RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(status)
    message(FATAL_ERROR "the python package from the unpacked ${pythonPackage} failed:\n${out}${err}")
  endif()
  message(STATUS "${out}")
endif()

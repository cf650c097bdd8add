# Installs the build into a folder of its own, builds the consumer project
# against it with find_package(buslog), runs it, and checks the log that
# landed beside the installed module.
#   -DBUILD_DIR=... -DSOURCE_DIR=...
set(prefix ${BUILD_DIR}/package-test/install)
file(REMOVE_RECURSE ${BUILD_DIR}/package-test)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} RESULT_VARIABLE status OUTPUT_QUIET)
if(status)
  message(FATAL_ERROR "install failed")
endif()
foreach(file include/buslog.h lib/libbuslog.so bin/buslog-host share/buslog/samples/demo.script
             lib/cmake/buslog/buslogConfig.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "install lacks ${file}")
  endif()
endforeach()
set(consumer ${BUILD_DIR}/package-test/consumer)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/package/consumer -B ${consumer}
                        -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "find_package(buslog) failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${consumer} RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "the consumer did not build")
endif()
execute_process(COMMAND ${consumer}/consumer RESULT_VARIABLE status)
if(status)
  message(FATAL_ERROR "the consumer failed")
endif()
file(READ ${prefix}/lib/consumer.log content HEX)
if(NOT content STREQUAL "68656c6c6f0d0a")  # "hello" CR LF
  message(FATAL_ERROR "unexpected log (hex): ${content}")
endif()
# The installed host finds the installed module and samples by itself.
execute_process(COMMAND ${prefix}/bin/buslog-host demo --quiet RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(status)
  message(FATAL_ERROR "the installed host's demo failed")
endif()

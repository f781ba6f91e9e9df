# Installs the build tree into a scratch prefix, builds a small host project against it with the
# same toolchain, and runs it (under Wine for the Windows build).
set(prefix ${BUILD_DIR}/package-test/prefix)
set(consumer_build ${BUILD_DIR}/package-test/consumer)
file(REMOVE_RECURSE ${BUILD_DIR}/package-test)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "install failed")
endif()
# The package directory is named outright: a cross toolchain confines package searches to its sysroot.
set(args -S ${SOURCE_DIR} -B ${consumer_build} -G Ninja -DCMAKE_PREFIX_PATH=${prefix}
    -DOvraPlatformMisc_DIR=${prefix}/lib/cmake/OvraPlatformMisc)
if(TOOLCHAIN)
    list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} ${args} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "configuring the consumer against the installed package failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${consumer_build} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the consumer failed")
endif()
if(EMULATOR)
    # The DLLs of the installed package, found beside the program as Windows looks for them.
    file(GLOB dlls ${prefix}/bin/*.dll)
    file(COPY ${dlls} DESTINATION ${consumer_build})
    execute_process(COMMAND ${EMULATOR} ${consumer_build}/consumer.exe RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out)
else()
    execute_process(COMMAND ${consumer_build}/consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
endif()
message(STATUS "${out}")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the consumer failed: ${rc}")
endif()

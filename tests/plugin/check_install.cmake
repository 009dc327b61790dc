# Installs the build into PREFIX, compiles the consumer program against the
# installed headers and libraries only, and runs it on the installed plug-in.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  OUTPUT_QUIET ERROR_VARIABLE problem RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "installing ${BUILD_DIR} into ${PREFIX} failed: ${problem}")
endif()

separate_arguments(flags UNIX_COMMAND "${FLAGS}")
execute_process(COMMAND ${CXX} ${flags} -std=c++20 -I${PREFIX}/include ${CONSUMER}
    -o ${PREFIX}/consumer -L${PREFIX}/${LIBDIR} -ltesk_host -lzelm -ldl
    -Wl,-rpath,${PREFIX}/${LIBDIR}
  ERROR_VARIABLE problem RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "compiling ${CONSUMER} against ${PREFIX} failed: ${problem}")
endif()

execute_process(COMMAND ${PREFIX}/consumer ${PREFIX}/${LIBDIR}/libtesk_quor.so
  OUTPUT_VARIABLE output ERROR_VARIABLE problem RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the consumer failed (${result}): ${output}${problem}")
endif()
message(STATUS "${output}")

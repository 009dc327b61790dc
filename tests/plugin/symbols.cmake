# dynamic_symbols(<file> <var> [nm options]): the names that the dynamic
# symbol table of file defines, one list entry each.
function(dynamic_symbols file var)
  execute_process(COMMAND nm -D --defined-only ${ARGN} ${file}
    OUTPUT_VARIABLE listing ERROR_VARIABLE problem RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm -D ${file} failed: ${problem}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${listing}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  set(${var} "${names}" PARENT_SCOPE)
endfunction()

# Fails unless the plug-in's dynamic symbol table defines exactly one
# symbol, tesk_pluginCreate.
execute_process(COMMAND nm -D --defined-only ${PLUGIN}
  OUTPUT_VARIABLE listing ERROR_VARIABLE problem RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm -D ${PLUGIN} failed: ${problem}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "tesk_pluginCreate")
  message(FATAL_ERROR "${PLUGIN} exports '${names}' instead of tesk_pluginCreate alone")
endif()

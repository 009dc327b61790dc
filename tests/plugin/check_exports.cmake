# Fails unless the plug-in's dynamic symbol table defines exactly one
# symbol, tesk_pluginCreate.
include(${CMAKE_CURRENT_LIST_DIR}/symbols.cmake)
dynamic_symbols(${PLUGIN} names)
if(NOT names STREQUAL "tesk_pluginCreate")
  message(FATAL_ERROR "${PLUGIN} exports '${names}' instead of tesk_pluginCreate alone")
endif()

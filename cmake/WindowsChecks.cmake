# Windows builds: the DLLs export exactly their interface (quor.dll the
# Quor_ functions of quor.h, tesk_quor.dll the plug-in entry alone) and every
# binary imports from system DLLs only, checked with objdump -p on each build.
set(TESK_QUOR_SYSTEM_DLLS KERNEL32.dll msvcrt.dll SHELL32.dll USER32.dll ADVAPI32.dll)
find_program(TESK_QUOR_OBJDUMP NAMES ${CMAKE_OBJDUMP} objdump REQUIRED)

set(checks "")
function(tesk_quor_windows_check target)
  cmake_parse_arguments(C "" "" "ARGUMENTS" ${ARGN})
  if(NOT TARGET ${target})
    return()
  endif()
  list(JOIN TESK_QUOR_SYSTEM_DLLS "," system_dlls)
  set(checks ${checks} COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${TESK_QUOR_OBJDUMP}
      -DBINARY=$<TARGET_FILE:${target}> -DSYSTEM_DLLS=${system_dlls} ${C_ARGUMENTS}
      -P ${PROJECT_SOURCE_DIR}/cmake/windows/check_binary.cmake PARENT_SCOPE)
  set(check_targets ${check_targets} ${target} PARENT_SCOPE)
endfunction()

tesk_quor_windows_check(quor ARGUMENTS -DEXPORTS_HEADER=${PROJECT_SOURCE_DIR}/include/quor/quor.h)
tesk_quor_windows_check(tesk_quor ARGUMENTS -DEXPORTS=tesk_pluginCreate)
tesk_quor_windows_check(quor_tool)
tesk_quor_windows_check(tesk)
add_custom_target(windows_binary_checks ALL ${checks} VERBATIM)
add_dependencies(windows_binary_checks ${check_targets})

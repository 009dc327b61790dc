# Public headers, the CMake package, the pkg-config files and the licence.
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/licenses/tesk_quor)

include(CMakePackageConfigHelpers)
set(TESK_QUOR_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/tesk_quor)
get_property(_exported GLOBAL PROPERTY TESK_QUOR_EXPORTED_TARGETS)
if(_exported)
  install(EXPORT tesk_quor_targets NAMESPACE tesk_quor:: DESTINATION ${TESK_QUOR_CMAKEDIR})
endif()
configure_package_config_file(cmake/tesk_quorConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tesk_quorConfig.cmake INSTALL_DESTINATION ${TESK_QUOR_CMAKEDIR}
  PATH_VARS TESK_QUOR_PLUGINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tesk_quorConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tesk_quorConfig.cmake
  ${PROJECT_BINARY_DIR}/tesk_quorConfigVersion.cmake DESTINATION ${TESK_QUOR_CMAKEDIR})

# The pkg-config files find the prefix relative to themselves, so that an
# install can be moved. Linking the static library statically also needs
# the C++ runtime: the libraries the C++ compiler adds to the C compiler's.
# The static host library names its own dependencies.
set(TESK_QUOR_PCDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TESK_QUOR_PC_TO_PREFIX /${TESK_QUOR_PCDIR} /)
string(REGEX REPLACE "/$" "" TESK_QUOR_PC_TO_PREFIX "${TESK_QUOR_PC_TO_PREFIX}")
set(_runtime ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_ITEM _runtime ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
list(REMOVE_DUPLICATES _runtime)
list(TRANSFORM _runtime PREPEND -l)
list(JOIN _runtime " " TESK_QUOR_PC_CXX_RUNTIME)
set(TESK_QUOR_PC_DL "")
if(CMAKE_DL_LIBS)
  set(TESK_QUOR_PC_DL "-l${CMAKE_DL_LIBS}")
endif()
set(TESK_QUOR_PC_TAGLIB "")
if(TAGLIB_FOUND)
  set(TESK_QUOR_PC_TAGLIB taglib)
endif()
foreach(pc zelm quor tesk_host)
  configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${TESK_QUOR_PCDIR})
endforeach()

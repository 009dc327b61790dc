# Public headers, the CMake package and the pkg-config files.
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

include(CMakePackageConfigHelpers)
set(TESK_QUOR_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/tesk_quor)
get_property(_exported GLOBAL PROPERTY TESK_QUOR_EXPORTED_TARGETS)
if(_exported)
  install(EXPORT tesk_quor_targets NAMESPACE tesk_quor:: DESTINATION ${TESK_QUOR_CMAKEDIR})
endif()
configure_package_config_file(cmake/tesk_quorConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tesk_quorConfig.cmake INSTALL_DESTINATION ${TESK_QUOR_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tesk_quorConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tesk_quorConfig.cmake
  ${PROJECT_BINARY_DIR}/tesk_quorConfigVersion.cmake DESTINATION ${TESK_QUOR_CMAKEDIR})

foreach(pc zelm quor)
  if(EXISTS ${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in)
    configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  endif()
endforeach()

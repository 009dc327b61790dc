# GoogleTest built from its sources for the target, under the names the
# installed package gives it (GTest::gtest, GTest::gtest_main). Its own
# warnings are not the project's.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TESK_QUOR_GTEST_SOURCE_DIR}/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL
                 SYSTEM)

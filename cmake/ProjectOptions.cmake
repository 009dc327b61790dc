# Compiler warnings shared by every target of the project.
add_library(tesk_quor_warnings INTERFACE)
target_compile_options(tesk_quor_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra -Wpedantic>
  $<$<BOOL:${TESK_QUOR_WERROR}>:-Werror>)

# tesk_quor_component(<target>): apply the project's warnings to a target.
function(tesk_quor_component target)
  target_link_libraries(${target} PRIVATE tesk_quor_warnings)
endfunction()

# tesk_quor_install_rpath(<target> <destination>): the target, installed into
# destination, finds the project's shared libraries through a path relative
# to itself.
function(tesk_quor_install_rpath target destination)
  file(RELATIVE_PATH to_libraries /${destination} /${CMAKE_INSTALL_LIBDIR})
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_libraries}")
endfunction()

# tesk_quor_test(<name> SOURCES ... LIBS ...): one GoogleTest executable,
# registered with CTest test by test and labelled with its name. Suites whose
# names end in "Threads" run several threads at once; their tests carry the
# label "threads" instead, which the ThreadSanitizer build runs.
function(tesk_quor_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main tesk_quor_warnings)
  target_compile_definitions(${name} PRIVATE
    TESK_QUOR_SHARED_DIR="${TESK_QUOR_SHARED_DIR}"
    TESK_QUOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TESK_QUOR_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} TEST_FILTER "-*Threads.*" DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 600 LABELS ${name})
  gtest_discover_tests(${name} TEST_FILTER "*Threads.*" DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 600 LABELS threads)
endfunction()

# wavrel_add_test(NAME SOURCES a_test.cc ... [LIBS lib ...] [ENV VAR=value ...])
# One GoogleTest executable per component; every test case becomes a CTest test.
function(wavrel_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "${ARG_ENV}"
    DISCOVERY_TIMEOUT 60)
endfunction()

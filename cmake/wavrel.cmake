# wavrel_add_test(NAME SOURCES a_test.cc ... [LIBS lib ...] [ENV VAR=value ...])
# One GoogleTest executable per component; every test case becomes a CTest test.
function(wavrel_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # The environment goes through `cmake -E env` as the test's launcher, which
  # test discovery uses as well (a list-valued ENVIRONMENT property would lose
  # all but its first entry on the way through the discovery script).
  if(ARG_ENV)
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${ARG_ENV}")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60)
endfunction()

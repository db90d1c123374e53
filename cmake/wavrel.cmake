# wavrel_add_test(NAME SOURCES a_test.cc ... [LIBS lib ...] [ENV VAR=value ...]
#                 [OUTPUT_DIR dir] [LOCK resource] [DEFINES NAME=value ...])
# The one test registrar: one GoogleTest executable per component; every test
# case becomes a CTest test. OUTPUT_DIR puts the executable in a folder of its
# own (a staged host tree); LOCK keeps tests sharing one resource apart.
function(wavrel_add_test name)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR;LOCK" "SOURCES;LIBS;ENV;DEFINES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  if(ARG_OUTPUT_DIR)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
  endif()
  if(ARG_DEFINES)
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINES})
  endif()
  set(_properties)
  if(ARG_LOCK)
    set(_properties PROPERTIES RESOURCE_LOCK ${ARG_LOCK})
  endif()
  # The environment goes through `cmake -E env` as the test's launcher, which
  # test discovery uses as well (a list-valued ENVIRONMENT property would lose
  # all but its first entry on the way through the discovery script).
  if(ARG_ENV)
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${ARG_ENV}")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    ${_properties}
    DISCOVERY_TIMEOUT 60)
endfunction()

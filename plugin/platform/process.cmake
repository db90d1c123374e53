# Tests of the child-process layer and the engine's file helpers.
wavrel_add_test(process_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/process_test.cc
  LIBS wavrel_core)

# Tests of the code-page helpers.
wavrel_add_test(code_page_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/code_page_test.cc
  LIBS wavrel_core)

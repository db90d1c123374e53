# Tests of the code-page, run-time loading and module-path helpers.
wavrel_add_test(code_page_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/code_page_test.cc
  LIBS wavrel_core)
wavrel_add_test(dynamic_library_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dynamic_library_test.cc
  LIBS wavrel_core)

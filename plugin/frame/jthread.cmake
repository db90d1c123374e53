# The worker-thread base's tests.
wavrel_add_test(jthread_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/jthread_test.cc
  LIBS wavrel_core)

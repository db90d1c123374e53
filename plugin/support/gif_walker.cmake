wavrel_add_test(gif_walker_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/gif_walker_test.cc
  LIBS wavrel_core)
target_compile_definitions(gif_walker_test PRIVATE
  WAVREL_RESOURCES_DIR="${PROJECT_SOURCE_DIR}/plugin/resources")

wavrel_add_test(xml_reader_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xml_reader_test.cc
  LIBS wavrel_core)
target_compile_definitions(xml_reader_test PRIVATE
  WAVREL_RESOURCES_DIR="${PROJECT_SOURCE_DIR}/plugin/resources")

# Host services' tests. The message-box library is looked for beside the
# running executable, so each of these test programs lives in a folder of its
# own, together with the stand-in library it should (or should not) find.

set(_hs_bin ${CMAKE_CURRENT_BINARY_DIR}/host_services_test)
add_library(host_services_fake_msgbox MODULE
  ${CMAKE_CURRENT_LIST_DIR}/test_support/fake_message_box.cc)
set_target_properties(host_services_fake_msgbox PROPERTIES
  OUTPUT_NAME XMessageBox
  LIBRARY_OUTPUT_DIRECTORY ${_hs_bin})

wavrel_add_test(host_services_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/host_services_test.cc
  LIBS wavrel_core)
set_target_properties(host_services_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${_hs_bin})
add_dependencies(host_services_test host_services_fake_msgbox)

# A libXMessageBox.so without the export "XMessageBox".
set(_hs_no_export_bin ${CMAKE_CURRENT_BINARY_DIR}/message_box_no_export_test)
add_library(host_services_fake_msgbox_no_export MODULE
  ${CMAKE_CURRENT_LIST_DIR}/test_support/fake_message_box.cc)
target_compile_definitions(host_services_fake_msgbox_no_export
  PRIVATE FAKE_MESSAGE_BOX_WITHOUT_EXPORT)
set_target_properties(host_services_fake_msgbox_no_export PROPERTIES
  OUTPUT_NAME XMessageBox
  LIBRARY_OUTPUT_DIRECTORY ${_hs_no_export_bin})

# The message-box tests without a usable library: one source, run from a
# folder of its own.
function(_message_box_absent_test name folder suite present)
  wavrel_add_test(${name}
    SOURCES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/message_box_absent_test.cc
    LIBS wavrel_core
    OUTPUT_DIR ${folder}
    DEFINES MESSAGE_BOX_SUITE=${suite} MESSAGE_BOX_LIBRARY_PRESENT=${present})
endfunction()

_message_box_absent_test(message_box_no_export_test ${_hs_no_export_bin}
  MessageBoxWithoutExport 1)
add_dependencies(message_box_no_export_test host_services_fake_msgbox_no_export)

# No libXMessageBox.so at all.
_message_box_absent_test(message_box_missing_test
  ${CMAKE_CURRENT_BINARY_DIR}/message_box_missing_test MessageBoxMissing 0)

# wavrel_ui: the Qt window of the conversion dialog and the animated picture
# control (Qt sources are named *_qt.cc so they stay out of wavrel_core).
find_package(Qt6 REQUIRED COMPONENTS Widgets)

set(_ui_dir ${CMAKE_CURRENT_SOURCE_DIR})
set(_support_dir ${CMAKE_CURRENT_SOURCE_DIR}/../support)
add_library(wavrel_ui STATIC
  ${_ui_dir}/dialog_runner.cc
  ${_ui_dir}/dialog_runner.h
  ${_ui_dir}/wavrel_window.cc
  ${_ui_dir}/wavrel_window.h
  ${_support_dir}/animated_picture_qt.cc
  ${_support_dir}/animated_picture_qt.h)
set_target_properties(wavrel_ui PROPERTIES AUTOMOC ON)
target_link_libraries(wavrel_ui PUBLIC wavrel_core Qt6::Widgets)

# Tests: Qt runs without a display.
set(_qt_test_env QT_QPA_PLATFORM=offscreen)
wavrel_add_test(animated_picture_test
  SOURCES ${_support_dir}/animated_picture_qt_test.cc ${_ui_dir}/testing/test_gif.cc
  LIBS wavrel_ui
  ENV ${_qt_test_env})

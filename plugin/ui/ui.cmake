# wavrel_ui: the Qt window of the conversion dialog and the animated picture
# control (Qt sources are named *_qt.cc so they stay out of wavrel_core).
find_package(Qt6 REQUIRED COMPONENTS Widgets)

set(_ui_dir ${CMAKE_CURRENT_SOURCE_DIR})
set(_support_dir ${CMAKE_CURRENT_SOURCE_DIR}/../support)
set(_resources_dir ${CMAKE_CURRENT_SOURCE_DIR}/../resources)
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

# The window test runs the real CWavrelDlg, which finds its programs and
# pictures in the plug-in folder below the running executable's folder; so
# the test runs from a host folder of its own:
#   ui_test_host/wavrel_window_test
#   ui_test_host/Plugins/WavrelPlugin/process.gif, static.gif, vocrate, evrc_2004
set(_ui_host ${CMAKE_CURRENT_BINARY_DIR}/ui_test_host)
set(_ui_plugins ${_ui_host}/Plugins/WavrelPlugin)
file(MAKE_DIRECTORY ${_ui_plugins})
wavrel_add_test(wavrel_window_test
  SOURCES ${_ui_dir}/wavrel_window_test.cc ${_ui_dir}/testing/test_gif.cc
  LIBS wavrel_ui
  ENV ${_qt_test_env}
  OUTPUT_DIR ${_ui_host}
  DEFINES WAVREL_TEST_SAMPLES_DIR="${WAVREL_SAMPLES_DIR}"
    WAVREL_TEST_LANGUAGE_FILE="${CMAKE_SOURCE_DIR}/outside/host/lang/en.ini")
set(_ui_host_files)
foreach(_gif process.gif static.gif)
  add_custom_command(OUTPUT ${_ui_plugins}/${_gif}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_resources_dir}/${_gif} ${_ui_plugins}/${_gif}
    DEPENDS ${_resources_dir}/${_gif}
    VERBATIM)
  list(APPEND _ui_host_files ${_ui_plugins}/${_gif})
endforeach()
# The conversion test needs the real converter and decoder; without them it
# is skipped.
foreach(_program vocrate evrc_2004)
  if(TARGET ${_program})
    add_custom_command(OUTPUT ${_ui_plugins}/${_program}
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${_program}> ${_ui_plugins}/${_program}
      DEPENDS ${_program} $<TARGET_FILE:${_program}>
      VERBATIM)
    list(APPEND _ui_host_files ${_ui_plugins}/${_program})
  endif()
endforeach()
# The end report's test answers real message boxes, which the plug-in loads
# from the host folder (the target is defined later; the expression resolves).
add_custom_command(OUTPUT ${_ui_host}/libXMessageBox.so
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:XMessageBox> ${_ui_host}/libXMessageBox.so
  DEPENDS XMessageBox $<TARGET_FILE:XMessageBox>
  VERBATIM)
list(APPEND _ui_host_files ${_ui_host}/libXMessageBox.so)
add_custom_target(wavrel_window_test_host DEPENDS ${_ui_host_files})
add_dependencies(wavrel_window_test wavrel_window_test_host)

# The conversion engine's tests.
#
# CWavrelDlg finds its programs, pictures and settings in the plug-in folder
# below the running executable's folder, and its message boxes beside the
# executable. So the dialog tests run from a host folder of their own:
#   engine_test_host/wavrel_dlg_test
#   engine_test_host/libXMessageBox.so            recording stand-in
#   engine_test_host/Plugins/WavrelPlugin/vocrate, evrc_2004   copies of fake_child
# and the end-to-end test from engine_e2e_host with the real programs.
# Test cases of one folder change its plug-in folder (a program removed, a
# settings file written), so they never run at the same time.

set(_engine_host ${CMAKE_CURRENT_BINARY_DIR}/engine_test_host)
set(_engine_plugins ${_engine_host}/Plugins/WavrelPlugin)
file(MAKE_DIRECTORY ${_engine_plugins})

wavrel_add_test(wav_writer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wav_writer_test.cc
  LIBS wavrel_core wavrel_testing)

add_executable(engine_fake_child ${CMAKE_CURRENT_LIST_DIR}/testing/fake_child.cc)
set_target_properties(engine_fake_child PROPERTIES
  OUTPUT_NAME fake_child
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/engine_testing)
add_custom_command(TARGET engine_fake_child POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:engine_fake_child> ${_engine_plugins}/vocrate
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:engine_fake_child> ${_engine_plugins}/evrc_2004
  VERBATIM)

add_library(engine_fake_msgbox SHARED
  ${CMAKE_CURRENT_LIST_DIR}/../frame/test_support/fake_message_box.cc)
set_target_properties(engine_fake_msgbox PROPERTIES
  OUTPUT_NAME XMessageBox
  LIBRARY_OUTPUT_DIRECTORY ${_engine_host})

function(_engine_test name host source)
  wavrel_add_test(${name} SOURCES ${source} LIBS wavrel_core ${ARGN}
    OUTPUT_DIR ${host}
    LOCK ${name}_plugin_folder
    DEFINES WAVREL_TEST_PLUGIN_DIR="${host}/Plugins/WavrelPlugin"
      WAVREL_TEST_SAMPLES_DIR="${WAVREL_SAMPLES_DIR}"
      WAVREL_TEST_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/testdata")
endfunction()

_engine_test(wavrel_dlg_test ${_engine_host} ${CMAKE_CURRENT_LIST_DIR}/wavrel_dlg_test.cc
  engine_fake_msgbox)
add_dependencies(wavrel_dlg_test engine_fake_child)

if(TARGET vocrate AND TARGET evrc_2004)
  set(_e2e_host ${CMAKE_CURRENT_BINARY_DIR}/engine_e2e_host)
  file(MAKE_DIRECTORY ${_e2e_host}/Plugins/WavrelPlugin)
  _engine_test(engine_e2e_test ${_e2e_host} ${CMAKE_CURRENT_LIST_DIR}/engine_e2e_test.cc
    wavrel_testing)
  # Fresh copies whenever either program is rebuilt.
  set(_e2e_programs ${_e2e_host}/Plugins/WavrelPlugin/vocrate
                    ${_e2e_host}/Plugins/WavrelPlugin/evrc_2004)
  add_custom_command(OUTPUT ${_e2e_programs}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vocrate> ${_e2e_host}/Plugins/WavrelPlugin/vocrate
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:evrc_2004> ${_e2e_host}/Plugins/WavrelPlugin/evrc_2004
    DEPENDS vocrate evrc_2004 $<TARGET_FILE:vocrate> $<TARGET_FILE:evrc_2004>
    VERBATIM)
  add_custom_target(engine_e2e_programs DEPENDS ${_e2e_programs})
  add_dependencies(engine_e2e_test engine_e2e_programs)
endif()

# The per-file unit over a recording fake environment: no folder tree, no lock.
wavrel_add_test(file_conversion_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_conversion_test.cc
  LIBS wavrel_core wavrel_testing)

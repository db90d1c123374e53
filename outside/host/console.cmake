# wavrel, the console front end: drives the conversion dialog's logic
# (wavrel_engine, in the production environment of wavrel_frame) in a
# console window. Included from CMakeLists.txt.
if(TRUE)
  add_executable(wavrel console_main.cc console_window.cc console_progress.cc console_args.cc
    console_host.cc)
  target_link_libraries(wavrel PRIVATE wavrel_frame wavrel_host_support Threads::Threads
    nlohmann_json::nlohmann_json)
  set_target_properties(wavrel PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${WAVREL_STAGE_DIR})
  install(TARGETS wavrel RUNTIME DESTINATION .)
  # What a run needs beside it in the stage tree.
  foreach(_needed XMessageBox vocrate evrc_2004 wavrel_plugin_resources)
    if(TARGET ${_needed})
      add_dependencies(wavrel ${_needed})
    endif()
  endforeach()

  wavrel_add_test(wavrel_console_test
    SOURCES console_args_test.cc console_process_test.cc console_progress_test.cc console_args.cc
      console_progress.cc
    LIBS wavrel_host_support wavrel_testing)
  target_compile_definitions(wavrel_console_test PRIVATE
    WAVREL_CONSOLE_PATH="$<TARGET_FILE:wavrel>"
    WAVREL_SAMPLES_DIR="${WAVREL_SAMPLES_DIR}/")
  add_dependencies(wavrel_console_test wavrel)

  # Failures made to happen under `wavrel` (a copy of the stage tree per test).
  wavrel_add_test(failure_injection_test SOURCES failure_injection_test.cc LIBS wavrel_testing)
  target_compile_definitions(failure_injection_test PRIVATE
    WAVREL_STAGE_DIR="${WAVREL_STAGE_DIR}"
    WAVREL_SAMPLES_DIR="${WAVREL_SAMPLES_DIR}")
  add_dependencies(failure_injection_test wavrel)
endif()

# The progress line in a real terminal (tmux).
if(TARGET wavrel AND BUILD_TESTING)
  add_test(NAME wavrel_progress_in_a_terminal
    COMMAND bash ${CMAKE_SOURCE_DIR}/tools/progress-tty-test.sh $<TARGET_FILE:wavrel>
            ${WAVREL_SAMPLES_DIR})
  set_tests_properties(wavrel_progress_in_a_terminal PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()

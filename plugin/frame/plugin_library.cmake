# libWavrelPlugin.so: the IWavrel object (wavrel_plugin_qt.cc, which runs the
# Qt window) over the core, which holds CreatePlugin and the plug-in object
# (wavrel_plugin.cc; pulled out of the static core by --undefined). The
# version script keeps the dynamic symbol table to CreatePlugin and the
# framework interfaces' type information.
add_library(WavrelPlugin SHARED ${CMAKE_CURRENT_SOURCE_DIR}/wavrel_plugin_qt.cc)
target_link_libraries(WavrelPlugin PRIVATE wavrel_ui wavrel_core)
set(_map ${CMAKE_CURRENT_SOURCE_DIR}/wavrel_plugin.map)
target_link_options(WavrelPlugin PRIVATE
  "LINKER:--undefined=CreatePlugin" "LINKER:--version-script=${_map}" "LINKER:--no-undefined")
set_property(TARGET WavrelPlugin APPEND PROPERTY LINK_DEPENDS ${_map})
set_target_properties(WavrelPlugin PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${WAVREL_PLUGIN_STAGE_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
install(TARGETS WavrelPlugin LIBRARY DESTINATION Plugins/WavrelPlugin)

find_package(Qt6 REQUIRED COMPONENTS Widgets)
wavrel_add_test(wavrel_plugin_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/wavrel_plugin_test.cc
  LIBS Qt6::Widgets ${CMAKE_DL_LIBS} wavrel_testing
  ENV QT_QPA_PLATFORM=offscreen)
add_dependencies(wavrel_plugin_test WavrelPlugin)
target_compile_definitions(wavrel_plugin_test PRIVATE
  WAVREL_PLUGIN_PATH="$<TARGET_FILE:WavrelPlugin>"
  WAVREL_NM="${CMAKE_NM}")

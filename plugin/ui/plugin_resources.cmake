# The plug-in folder's data files: the two pictures the dialog shows and a
# sample settings file. Copied into the staged plug-in folder at build time
# and installed beside the library.
set(_resources_dir ${CMAKE_CURRENT_SOURCE_DIR}/../resources)
set(_resource_files
  ${_resources_dir}/process.gif
  ${_resources_dir}/static.gif
  ${_resources_dir}/WavrelPluginSet.xml)
set(_staged_resources)
foreach(_file ${_resource_files})
  get_filename_component(_name ${_file} NAME)
  add_custom_command(
    OUTPUT ${WAVREL_PLUGIN_STAGE_DIR}/${_name}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_file} ${WAVREL_PLUGIN_STAGE_DIR}/${_name}
    DEPENDS ${_file}
    COMMENT "Staging ${_name}"
    VERBATIM)
  list(APPEND _staged_resources ${WAVREL_PLUGIN_STAGE_DIR}/${_name})
endforeach()
add_custom_target(wavrel_plugin_resources ALL DEPENDS ${_staged_resources})
install(FILES ${_resource_files} DESTINATION Plugins/WavrelPlugin)

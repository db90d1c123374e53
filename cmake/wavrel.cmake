# wavrel_add_test(NAME SOURCES a_test.cc ... [LIBS lib ...] [ENV VAR=value ...]
#                 [OUTPUT_DIR dir] [DEFINES NAME=value ...] [THREADS])
# The one test registrar: one GoogleTest executable per component; every test
# case becomes a CTest test. OUTPUT_DIR puts the executable in a folder of its
# own (the message-box tests, which look for a library beside themselves).
# THREADS marks a test of code with a thread in it: its cases carry the CTest
# label "threads" and the target `thread_tests` builds it, which is what the
# ThreadSanitizer build runs.
# Tests share no resource: each makes its folders in a temporary folder of
# its own, so `ctest -j` may run any two at once.
function(wavrel_add_test name)
  cmake_parse_arguments(ARG "THREADS" "OUTPUT_DIR" "SOURCES;LIBS;ENV;DEFINES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # A test sees the private headers of the libraries of its own folder.
  foreach(_lib ${ARG_LIBS})
    if(TARGET ${_lib})
      get_target_property(_dir ${_lib} SOURCE_DIR)
      get_target_property(_private ${_lib} WAVREL_PRIVATE_INCLUDE)
      if(_dir STREQUAL CMAKE_CURRENT_SOURCE_DIR AND _private)
        target_include_directories(${name} PRIVATE ${_private})
      endif()
    endif()
  endforeach()
  if(ARG_OUTPUT_DIR)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
  endif()
  if(ARG_DEFINES)
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINES})
  endif()
  # The environment goes through `cmake -E env` as the test's launcher, which
  # test discovery uses as well (a list-valued ENVIRONMENT property would lose
  # all but its first entry on the way through the discovery script).
  if(ARG_ENV)
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${ARG_ENV}")
  endif()
  set(_labels)
  if(ARG_THREADS)
    set(_labels PROPERTIES LABELS threads)
    set_property(GLOBAL APPEND PROPERTY WAVREL_THREAD_TESTS ${name})
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60
    ${_labels})
endfunction()

# wavrel_library_includes(target folder [PUBLIC_HEADERS h ...])
# The include root of a library in the build tree, so that the link graph
# decides which headers a file may include (there is no include directory for
# the whole source tree). Includes keep the form "folder/header.h":
#   include/<target>/private/<folder> -> the source folder (PRIVATE)
#   include/<target>/public/<folder>/<h> -> each public header (PUBLIC)
# Without PUBLIC_HEADERS every header of the folder is public
# (include/<target>/public/<folder> -> the source folder). Tests of the same
# folder (wavrel_add_test) see the private headers too. A target may call it
# for more than one folder.
function(wavrel_library_includes target folder)
  cmake_parse_arguments(ARG "" "" "PUBLIC_HEADERS" ${ARGN})
  set(_root ${CMAKE_BINARY_DIR}/include/${target})
  set(_source ${CMAKE_SOURCE_DIR}/${folder})
  get_target_property(_type ${target} TYPE)
  set(_public_scope PUBLIC)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    set(_public_scope INTERFACE)
  endif()
  # Links of an earlier configuration go (REMOVE_RECURSE never follows a link).
  file(REMOVE_RECURSE ${_root}/private/${folder} ${_root}/public/${folder})
  if(ARG_PUBLIC_HEADERS)
    _wavrel_link(${_source} ${_root}/private/${folder})
    foreach(_header ${ARG_PUBLIC_HEADERS})
      if(NOT EXISTS ${_source}/${_header})
        message(FATAL_ERROR "${target}: no public header ${folder}/${_header}")
      endif()
      _wavrel_link(${_source}/${_header} ${_root}/public/${folder}/${_header})
    endforeach()
    if(NOT _type STREQUAL "INTERFACE_LIBRARY")
      target_include_directories(${target} PRIVATE ${_root}/private)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY WAVREL_PRIVATE_INCLUDE ${_root}/private)
  else()
    _wavrel_link(${_source} ${_root}/public/${folder})
  endif()
  target_include_directories(${target} ${_public_scope} ${_root}/public)
endfunction()

# A symbolic link at `link` to `path`, made afresh at configure time.
function(_wavrel_link path link)
  get_filename_component(_parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${_parent})
  file(CREATE_LINK ${path} ${link} SYMBOLIC)
endfunction()

# wavrel_plugin_folder(): what this folder builds goes into libWavrelPlugin.so
# (platform/, frontends/animation, frontends/dialog, frontends/dialog_qt,
# plugin/): position-independent code, symbols hidden unless exported.
macro(wavrel_plugin_folder)
  set(CMAKE_CXX_VISIBILITY_PRESET hidden)
  set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endmacro()

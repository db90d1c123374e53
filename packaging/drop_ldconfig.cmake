# Run by cpack after it made the package (CPACK_POST_BUILD_SCRIPTS). CPack
# adds postinst and postrm scripts that only call ldconfig whenever a shared
# library lies in a folder below /usr/lib, as libXMessageBox.so does in
# /usr/lib/wavrel. The package's libraries are private (found beside the
# programs, never through the linker's cache), and dpkg's trigger runs
# ldconfig where it is needed anyway, so those scripts go: the package is
# unpacked, the two scripts are removed when they hold nothing else, and
# it is packed again. Every other byte of its files stays as it was.
foreach(_deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _deb MATCHES "\\.deb$")
    continue()
  endif()
  set(_tree "${_deb}.tree")
  file(REMOVE_RECURSE "${_tree}")
  execute_process(COMMAND dpkg-deb -R "${_deb}" "${_tree}" RESULT_VARIABLE _status)
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "drop_ldconfig: dpkg-deb -R ${_deb} failed")
  endif()
  set(_changed FALSE)
  foreach(_script postinst postrm)
    set(_path "${_tree}/DEBIAN/${_script}")
    if(NOT EXISTS "${_path}")
      continue()
    endif()
    file(STRINGS "${_path}" _lines)
    set(_other "")
    foreach(_line IN LISTS _lines)
      string(STRIP "${_line}" _line)
      if(NOT _line MATCHES "^(#.*|set -e|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then|ldconfig|fi|)$")
        string(APPEND _other "${_line}\n")
      endif()
    endforeach()
    if(_other STREQUAL "")
      file(REMOVE "${_path}")
      set(_changed TRUE)
    endif()
  endforeach()
  if(_changed)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b "${_tree}" "${_deb}"
                    OUTPUT_QUIET RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0)
      message(FATAL_ERROR "drop_ldconfig: dpkg-deb -b ${_deb} failed")
    endif()
  endif()
  file(REMOVE_RECURSE "${_tree}")
endforeach()

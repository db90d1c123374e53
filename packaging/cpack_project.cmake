# Read by cpack before it runs the install: the Debian package gets the
# shared files under /usr/share and the links in /usr/bin (see
# packaging/CMakeLists.txt).
if(CPACK_GENERATOR STREQUAL "DEB")
  set(ENV{WAVREL_DEB_LAYOUT} 1)
endif()

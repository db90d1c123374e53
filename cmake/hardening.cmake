# The hardening that Debian's dpkg-buildflags gives every package (with
# hardening=+all), for every target of every build: the stack protector,
# format-string checks, fortified libc calls, position-independent
# executables and a read-only relocation table bound at start (relro, now).
#
# _FORTIFY_SOURCE needs optimisation (glibc warns without it, and the
# warning is an error under WAVREL_WERROR), so a Debug build (-O0) goes
# without it; the sanitizer and fuzz builds go without it too, because the
# fortified calls would keep the sanitizers from seeing the faults they are
# built to find.
option(WAVREL_HARDENING "Build with the hardening flags of dpkg-buildflags" ON)
if(WAVREL_HARDENING)
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security -Wdate-time)
  if(NOT WAVREL_SANITIZE AND NOT WAVREL_FUZZ)
    # -U first: a _FORTIFY_SOURCE from CPPFLAGS is not defined twice.
    add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
  add_link_options(LINKER:-z,relro LINKER:-z,now)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
endif()

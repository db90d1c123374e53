#!/usr/bin/env bash
# check-includes.sh SOURCE_DIR [STAMP]
#
# No POSIX or Qt header outside the folders whose job it is. POSIX
# (unistd.h, fcntl.h, sys/*.h, dlfcn.h, ...) belongs to platform/, to
# base's module_path.cc, dynamic_library.cc and long_path.cc (openat for
# paths longer than PATH_MAX, which the plug-in and the converter share), to
# formats/posix_file.cc, to the programs (programs/, frontends/console,
# host/) where their job is the terminal, signals or the loader, and to test
# code. Qt belongs to frontends/dialog_qt, host/msgbox, host/app and test
# code. Every other file uses the standard library and the layers below it.
#
# Prints each offending include as FILE:LINE: text and exits 1; touches
# STAMP (the build's record that the check passed) when there is none.
set -euo pipefail

root=${1:?usage: check-includes.sh SOURCE_DIR [STAMP]}
stamp=${2:-}
cd "$root"

posix='(unistd|fcntl|dlfcn|signal|poll|spawn|termios|dirent|pthread|sched|iconv|langinfo|strings|libgen|glob|fnmatch|pwd|grp|semaphore|syslog|netdb|wordexp|ftw|sys/[a-z_/]+|netinet/[a-z_]+|arpa/[a-z_]+)\.h'
qt='Q[A-Za-z0-9_]*(/Q?[A-Za-z0-9_]+)?'

is_test() {
  case $1 in
    *_test.cc | *_testing.h | *_for_test.cc | testing/* | */testing/* | */test_support/*) return 0 ;;
  esac
  return 1
}

posix_allowed() {
  is_test "$1" && return 0
  case $1 in
    platform/* | base/module_path.cc | base/dynamic_library.cc | base/long_path.cc) ;;
    formats/posix_file.cc) ;;
    # the programs: their mains, the terminal, signals and the loader
    programs/decoders/decoder_programs.cc | programs/decoders/wavrel_worker_main.cc) ;;
    frontends/console/console_main.cc | frontends/console/console_progress.cc) ;;
    host/msgbox/x_message_box.cc | host/app/plugin_loader.cc) ;;
    host/app/wavrel_host_main.cc) ;;
    *) return 1 ;;
  esac
}

qt_allowed() {
  is_test "$1" && return 0
  case $1 in
    frontends/dialog_qt/* | host/msgbox/* | host/app/*) return 0 ;;
  esac
  return 1
}

status=0
while IFS= read -r -d '' file; do
  file=${file#./}
  while IFS=: read -r line text; do
    if [[ $text =~ \<$posix\> ]] && ! posix_allowed "$file"; then
      echo "$file:$line: POSIX header outside the folders whose job it is: $text"
      status=1
    elif [[ $text =~ \<$qt\> ]] && ! qt_allowed "$file"; then
      echo "$file:$line: Qt header outside frontends/dialog_qt, host/msgbox and host/app: $text"
      status=1
    fi
  done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*<' "$file" || true)
done < <(find . \( -path ./build -o -path './build-*' -o -path ./.git \) -prune -o \
           \( -name '*.cc' -o -name '*.h' -o -name '*.cpp' \) -type f -print0)

if [[ $status -eq 0 && -n $stamp ]]; then
  touch "$stamp"
fi
exit $status

#!/usr/bin/env bash
# The bash completion of wavrel: command, options (exactly the long options
# that `wavrel --help` lists), files and folders for INPUT and folders for
# OUTPUT_DIR, nothing for a number, and the
# languages of the lang/ folder beside the real executable, reached through
# a symbolic link as /usr/bin/wavrel is.
# Usage: check-completion.sh COMPLETION_FILE STAGE_DIR
set -uo pipefail
completion=$1 stage=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

# shellcheck disable=SC1090
source "$completion"
ln -s "$stage/wavrel" "$work/wavrel-link"
mkdir "$work/calls" "$work/calls-wav"
touch "$work/call.qcp"

complete_line() {  # words... ; the last one is the word being completed
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _wavrel
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}
expect() {  # expected, words...
  local want=$1
  shift
  local got
  got=$(cd "$work" && complete_line "$@")
  [ "$got" = "$want" ] || { echo "FAIL: '$*' completes to '$got', not '$want'"; failed=1; }
}

expect "convert" "$work/wavrel-link" c
expect "--help" "$work/wavrel-link" --he
expect "--yes" "$work/wavrel-link" convert --y
expect "en zh_CN" "$work/wavrel-link" convert --lang ""
expect "zh_CN" "$work/wavrel-link" convert --lang = z
# INPUT: a folder or one recording; OUTPUT_DIR: a folder.
expect "call.qcp calls calls-wav" "$work/wavrel-link" convert --yes ca
expect "calls-wav" "$work/wavrel-link" convert --lang en calls calls-
expect "call.qcp" "$work/wavrel-link" convert call.q
expect "--jobs --json" "$work/wavrel-link" convert --j
expect "" "$work/wavrel-link" convert -j ""
expect "" "$work/wavrel-link" convert --jobs = ""
expect "" "$work/wavrel-link" convert --shard ""
expect "call.qcp calls calls-wav" "$work/wavrel-link" convert -j 2 --shard = 0/2 ca
expect "calls-wav" "$work/wavrel-link" convert --jobs 2 calls calls-

# Completion and --help in step: the options after the command are the long
# options --help lists (but --version, which stands alone), and before it
# --version too.
help_options=$("$stage/wavrel" --help | grep -oE -- '^ +(-[a-zA-Z], )?--[a-z][-a-z]*' |
  grep -oE -- '--[a-z][-a-z]*' | sort | tr '\n' ' ' | sed 's/ $//')
[ -n "$help_options" ] || { echo "FAIL: wavrel --help lists no options"; failed=1; }
expect "$(tr ' ' '\n' <<<"$help_options -- " | grep -vx -- --version | sort | tr '\n' ' ' | sed 's/^ //; s/ $//')" \
  "$work/wavrel-link" convert -
expect "$(tr ' ' '\n' <<<"$help_options --" | sort | tr '\n' ' ' | sed 's/ $//')" "$work/wavrel-link" -

[ $failed = 0 ] && echo "bash completion of wavrel: all cases complete as expected"
exit $failed

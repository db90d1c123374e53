#!/usr/bin/env bash
# The manual pages and the programs agree: each page renders without a
# warning (groff -man -ww), names every option its program's --help names,
# and each program's --version prints the project's version and licence.
# Usage: check-docs.sh MAN_DIR STAGE_DIR VERSION [DESKTOP_FILE]
set -uo pipefail
man_dir=$1 stage=$2 version=$3 desktop=${4:-}
plugin=$stage/Plugins/WavrelPlugin
failed=0
fail() { echo "FAIL: $*"; failed=1; }

if ! command -v groff >/dev/null; then
  echo "SKIP: groff is missing (bash tools/install-deps.sh installs it)"
  exit 77
fi

declare -A program=(
  [wavrel]=$stage/wavrel [wavrel-host]=$stage/wavrel-host
  [vocrate]=$plugin/vocrate [evrc_2004]=$plugin/evrc_2004 [qcelp_13k]=$plugin/qcelp_13k)
for page in wavrel wavrel-host vocrate evrc_2004 qcelp_13k; do
  file=$man_dir/$page.1
  warnings=$(groff -man -ww -z "$file" 2>&1)
  [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
  text=$(groff -man -Tascii -P-cbou "$file" 2>/dev/null)

  exe=${program[$page]}
  if [ "$page" = vocrate ]; then
    help=""  # its usage text has no options; --version is its only one
  else
    help=$("$exe" --help)
  fi
  for option in $(grep -oE -- '(^|[][ ,|])--?[a-zA-Z][-a-zA-Z]*' <<<"$help" | tr -d '[], |' | sort -u) \
      --version; do
    grep -qF -- "$option" <<<"$text" || fail "$page.1 does not describe $option from --help"
  done
  for section in SYNOPSIS OPTIONS "EXIT STATUS" FILES EXAMPLES "WHAT HAPPENS TO YOUR FILES"; do
    grep -q "^$section" <<<"$text" || fail "$page.1 has no $section section"
  done

  out=$("$exe" --version </dev/null)
  grep -qF "$version" <<<"$out" || fail "$page --version says '$out', not $version"
  grep -qF "GPL-3.0-or-later" <<<"$out" || fail "$page --version does not name the licence"
done
for decoder in evrc_2004 qcelp_13k; do
  "$plugin/$decoder" --version | grep -q '^libavcodec [0-9]*\.[0-9]*\.[0-9]*' ||
    fail "$decoder --version does not name libavcodec's version"
done

if [ -n "$desktop" ]; then
  if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] ||
      fail "desktop-file-validate: $out"
  else
    echo "note: desktop-file-validate is missing; the desktop entry was not checked"
  fi
fi

[ $failed = 0 ] && echo "manual pages, --help, --version and desktop entry agree"
exit $failed

#!/usr/bin/env bash
# The Debian package as a user gets it: builds it (CPack), checks its files,
# its computed dependencies, its manual pages and desktop entry, and
# lintian --pedantic (no errors, no warnings); then, as root, installs it for
# real with apt-get, converts the bundled samples with the wavrel on the
# PATH, checks the WAV files, that file managers know QCP recordings
# (xdg-mime) and that a changed setting survives a reinstall (a conffile),
# and removes the package again.
# Usage: tools/package-test.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
installed=0
cleanup() {
  if [ $installed = 1 ]; then apt-get purge -y -q wavrel >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package-test: FAIL: $*" >&2; exit 1; }

echo "package-test: building the package"
rm -f "$build"/wavrel_*.deb
cmake --build "$build" --target package >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
debs=("$build"/wavrel_*_amd64.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "no single wavrel_VERSION_amd64.deb in $build"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "package-test: $(basename "$deb"), $(stat -c %s "$deb") bytes, version $version"

# Files: the tree under /usr/lib/wavrel, the links on the PATH, the setting
# in /etc (a conffile), the rest under /usr/share.
lib=./usr/lib/wavrel
plugin=$lib/Plugins/WavrelPlugin
dpkg-deb -c "$deb" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}' >"$work/contents"
for entry in \
  $lib/wavrel $lib/wavrel-host $lib/libXMessageBox.so $lib/lang/en.ini $lib/lang/zh_CN.ini \
  $plugin/libWavrelPlugin.so $plugin/vocrate $plugin/evrc_2004 $plugin/qcelp_13k \
  "$plugin/WavrelPluginSet.xml -> /etc/wavrel/WavrelPluginSet.xml" \
  "$plugin/process.gif -> ../../../../share/wavrel/process.gif" \
  "$plugin/static.gif -> ../../../../share/wavrel/static.gif" \
  ./usr/share/wavrel/process.gif ./usr/share/wavrel/static.gif ./etc/wavrel/WavrelPluginSet.xml \
  "./usr/bin/wavrel -> ../lib/wavrel/wavrel" "./usr/bin/wavrel-host -> ../lib/wavrel/wavrel-host" \
  "./usr/bin/vocrate -> ../lib/wavrel/Plugins/WavrelPlugin/vocrate" \
  "./usr/bin/evrc_2004 -> ../lib/wavrel/Plugins/WavrelPlugin/evrc_2004" \
  "./usr/bin/qcelp_13k -> ../lib/wavrel/Plugins/WavrelPlugin/qcelp_13k" \
  ./usr/share/man/man1/wavrel.1.gz ./usr/share/man/man1/wavrel-host.1.gz \
  ./usr/share/man/man1/vocrate.1.gz ./usr/share/man/man1/evrc_2004.1.gz \
  ./usr/share/man/man1/qcelp_13k.1.gz \
  ./usr/share/applications/wavrel-host.desktop \
  ./usr/share/icons/hicolor/scalable/apps/wavrel-host.svg \
  ./usr/share/mime/packages/wavrel.xml \
  ./usr/share/bash-completion/completions/wavrel \
  ./usr/share/doc/wavrel/copyright; do
  grep -qxF -- "$entry" "$work/contents" || fail "the package lacks $entry"
done
! grep -q '^\./opt' "$work/contents" || fail "the package still puts files in /opt"
dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = /etc/wavrel/WavrelPluginSet.xml ] ||
  fail "the settings file is not the package's one conffile"
[ ! -e "$work/control/postinst" ] && [ ! -e "$work/control/postrm" ] ||
  fail "the package has maintainer scripts (it needs none)"
grep -q '^License: GPL-3+$' <(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/wavrel/copyright) ||
  fail "the copyright file does not license the package GPL-3+"

# Dependencies: computed by dpkg-shlibdeps from the binaries, not typed.
depends=$(dpkg-deb -f "$deb" Depends)
echo "package-test: Depends: $depends"
for library in libavcodec libc6 libqt6widgets6 libstdc++6; do
  grep -q "$library" <<<"$depends" || fail "Depends does not name $library"
done

# Manual pages and desktop entry as packaged.
dpkg-deb -x "$deb" "$work/root"
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
out=$(desktop-file-validate "$work/root/usr/share/applications/wavrel-host.desktop" 2>&1) &&
  [ -z "$out" ] || fail "desktop-file-validate: $out"

# lintian --pedantic: no errors and no warnings (pedantic notes count too),
# with no overrides in the package.
! grep -q '/usr/share/lintian/overrides' "$work/contents" || fail "the package overrides lintian"
lintian --pedantic "$deb" 2>&1 | grep -v "running with root privileges" >"$work/lintian.out" || true
[ ! -s "$work/lintian.out" ] || { cat "$work/lintian.out"; fail "lintian --pedantic reports the above"; }
lintian --pedantic --fail-on error,warning,pedantic "$deb" >/dev/null 2>&1 || fail "lintian fails"
echo "package-test: contents, Depends, manual pages, desktop entry and lintian --pedantic are right"

if [ "$(id -u)" != 0 ]; then
  echo "package-test: SKIP installing: not root (run as root to install, convert and remove)"
  exit 0
fi

echo "package-test: installing it with apt-get"
export DEBIAN_FRONTEND=noninteractive
installed=1
apt-get install -y -q -o DPkg::Lock::Timeout=300 "$(realpath "$deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install"; }
[ "$(dpkg-query -W -f='${Version}' wavrel)" = "$version" ] || fail "wavrel $version is not installed"

# From the PATH, in a folder of its own, as a user would.
mkdir "$work/calls"
cp samples/* "$work/calls/"
(cd "$work" && PATH=/usr/bin:/bin wavrel convert calls wav) >"$work/convert.out" 2>"$work/convert.err" ||
  { cat "$work/convert.out" "$work/convert.err"; fail "wavrel convert from the PATH"; }
[ "$(command -v wavrel)" = /usr/bin/wavrel ] || fail "wavrel is not /usr/bin/wavrel"
count=$(ls samples | wc -l)
[ "$(ls "$work"/wav/*.wav | wc -l)" = "$count" ] || fail "not $count WAV files"
for wav in "$work"/wav/*.wav; do
  [ "$(head -c 4 "$wav")" = RIFF ] && [ "$(dd if="$wav" bs=1 skip=8 count=4 2>/dev/null)" = WAVE ] &&
    [ "$(stat -c %s "$wav")" -gt 44 ] || fail "$wav is not a WAV file with sound"
done
cmp -s <(sed "s|$work/wav|W|" "$work/convert.out") \
  <(build_out=$(mktemp -d) && "$build/stage/wavrel" convert "$work/calls" "$build_out" 2>/dev/null |
    sed "s|$build_out|W|" && rm -rf "$build_out") ||
  fail "the installed wavrel does not print what the built one prints"
for program in wavrel-host vocrate evrc_2004 qcelp_13k; do
  [ "$(command -v $program)" = /usr/bin/$program ] || fail "$program is not on the PATH"
  PATH=/usr/bin:/bin $program --version | grep -qF "$version" || fail "$program --version"
  PATH=/usr/bin:/bin $program --version | grep -qF GPL-3.0-or-later || fail "$program --version names no licence"
done

# File managers know QCP recordings by their content, whatever the name, and
# offer Wavrel for them.
if command -v xdg-mime >/dev/null; then
  for sample in greeting.qcp voicemail.dat; do
    type=$(xdg-mime query filetype "$work/calls/$sample")
    [ "$type" = audio/qcelp ] || fail "xdg-mime says $sample is $type, not audio/qcelp"
  done
  grep -q '^audio/qcelp=.*wavrel-host.desktop' /usr/share/applications/mimeinfo.cache ||
    fail "the desktop database does not offer wavrel-host for audio/qcelp"
else
  echo "package-test: SKIP the MIME type: no xdg-mime (bash tools/install-deps.sh installs it)"
fi

# The setting is a conffile: a changed one survives a reinstall and is used.
sed -i 's|>8000<|>16000<|' /etc/wavrel/WavrelPluginSet.xml
grep -q '>16000<' /etc/wavrel/WavrelPluginSet.xml || fail "the installed settings file is not the sample one"
apt-get install -y -q --reinstall -o DPkg::Lock::Timeout=300 "$(realpath "$deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install --reinstall"; }
grep -q '>16000<' /etc/wavrel/WavrelPluginSet.xml || fail "the reinstall overwrote the changed setting"
rm -rf "$work/wav16"
(cd "$work" && PATH=/usr/bin:/bin wavrel convert -q calls wav16) >/dev/null 2>&1 || fail "wavrel convert at 16000"
rate=$(od -An -tu4 -j24 -N4 "$work/wav16/greeting.wav" | tr -d ' ')
[ "$rate" = 16000 ] || fail "the WAV says $rate samples per second, not the 16000 set"
if command -v man >/dev/null; then
  for page in wavrel wavrel-host vocrate evrc_2004 qcelp_13k; do
    [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man $page does not find its page"
  done
fi
echo "package-test: wavrel convert from the PATH made $count WAV files"

apt-get remove -y -q -o DPkg::Lock::Timeout=300 wavrel >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get remove"; }
[ ! -e /usr/bin/wavrel ] && [ ! -e /usr/lib/wavrel ] || fail "files are left after removing"
[ -f /etc/wavrel/WavrelPluginSet.xml ] || fail "removing took the setting (only purging may)"
apt-get purge -y -q -o DPkg::Lock::Timeout=300 wavrel >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get purge"; }
installed=0
[ ! -e /etc/wavrel ] || fail "purging left /etc/wavrel"
[ "$(xdg-mime query filetype "$work/calls/voicemail.dat" 2>/dev/null)" != audio/qcelp ] ||
  fail "the MIME type stays after purging"
echo "package-test: removed and purged again; all good"

#!/usr/bin/env bash
# The Debian package as a user gets it: builds it (CPack), checks its files,
# its computed dependencies, its manual pages and desktop entry, and lintian;
# then, as root, installs it for real with apt-get, converts the bundled
# samples with the wavrel on the PATH, checks the WAV files and removes the
# package again.
# Usage: tools/package-test.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
installed=0
cleanup() {
  if [ $installed = 1 ]; then apt-get remove -y -q wavrel >/dev/null 2>&1 || true; fi
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

# Files: the tree under /opt/wavrel, the links on the PATH, the rest under /usr/share.
dpkg-deb -c "$deb" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}' >"$work/contents"
for entry in \
  ./opt/wavrel/wavrel ./opt/wavrel/wavrel-host ./opt/wavrel/libXMessageBox.so \
  ./opt/wavrel/lang/en.ini ./opt/wavrel/lang/zh_CN.ini \
  ./opt/wavrel/Plugins/WavrelPlugin/libWavrelPlugin.so ./opt/wavrel/Plugins/WavrelPlugin/vocrate \
  ./opt/wavrel/Plugins/WavrelPlugin/evrc_2004 ./opt/wavrel/Plugins/WavrelPlugin/qcelp_13k \
  ./opt/wavrel/Plugins/WavrelPlugin/WavrelPluginSet.xml \
  ./opt/wavrel/Plugins/WavrelPlugin/process.gif ./opt/wavrel/Plugins/WavrelPlugin/static.gif \
  "./usr/bin/wavrel -> /opt/wavrel/wavrel" "./usr/bin/wavrel-host -> /opt/wavrel/wavrel-host" \
  ./usr/share/man/man1/wavrel.1.gz ./usr/share/man/man1/wavrel-host.1.gz \
  ./usr/share/man/man1/vocrate.1.gz ./usr/share/man/man1/evrc_2004.1.gz \
  ./usr/share/man/man1/qcelp_13k.1.gz \
  ./usr/share/applications/wavrel-host.desktop \
  ./usr/share/icons/hicolor/scalable/apps/wavrel-host.svg \
  ./usr/share/bash-completion/completions/wavrel \
  ./usr/share/doc/wavrel/copyright; do
  grep -qxF -- "$entry" "$work/contents" || fail "the package lacks $entry"
done

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

# lintian: no errors (the one it would report, files in /opt, is overridden
# in the package with its reason).
lintian --fail-on error "$deb" 2>&1 | grep -v "running with root privileges" || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
echo "package-test: contents, Depends, manual pages, desktop entry and lintian are right"

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
PATH=/usr/bin:/bin wavrel-host --version | grep -qF "$version" || fail "wavrel-host --version"
if command -v man >/dev/null; then
  for page in wavrel wavrel-host vocrate evrc_2004; do
    [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man $page does not find its page"
  done
fi
echo "package-test: wavrel convert from the PATH made $count WAV files"

apt-get remove -y -q -o DPkg::Lock::Timeout=300 wavrel >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get remove"; }
installed=0
[ ! -e /usr/bin/wavrel ] && [ ! -e /opt/wavrel/wavrel ] || fail "files are left after removing"
echo "package-test: removed again; all good"

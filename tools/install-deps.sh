#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and benchmarking this
# project need. Run as root (or through sudo) on a fresh machine; safe to run
# again. Set WAVREL_SKIP_APT=1 to skip it where the packages are known to be in place.
set -euo pipefail

packages=(
  # compiler and build
  g++ cmake ninja-build pkg-config clang-format
  # tests
  libgtest-dev libgmock-dev
  # the decoder stand-ins
  libavcodec-dev libavutil-dev
  # resampling to the set sample rate
  libsoxr-dev
  # the dialog, the picture control, the GUI host and the message boxes
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # GUI tests and screenshots without a display
  xvfb xauth
  # fuzz targets: clang with libFuzzer and its sanitizer run-times
  clang libclang-rt-14-dev
  # benchmarks and the README's checks of what came out
  hyperfine ffmpeg time
  # the Debian package (dpkg-shlibdeps), its checks, the manual pages and the
  # desktop entry; tmux for the progress line in a real terminal
  dpkg-dev lintian groff-base desktop-file-utils tmux
  # Chinese texts in the dialog (the smallest CJK font: about 5 MB), and Qt's
  # own texts (the folder picker) in Chinese
  fonts-wqy-microhei qt6-translations-l10n
  # the package's MIME type and the folder the dialog offers to open:
  # shared-mime-info's database, xdg-mime and xdg-open, and the mimetype
  # program xdg-mime asks outside a desktop session
  shared-mime-info xdg-utils libfile-mimeinfo-perl
  # the README's screenshots: clicks under Xvfb and the capture
  xdotool imagemagick
  # JSON Lines reports of the console (the library) and their checks (jq)
  nlohmann-json3-dev jq
  # the cluster test: a single-node Slurm of our own and GNU parallel
  munge slurmctld slurmd slurm-client parallel
  # tests on a FAT folder, as on memory cards: the image (mkfs.vfat) and, where
  # the kernel has no vfat, its FUSE driver
  dosfstools fusefat
)

if [ "${WAVREL_SKIP_APT:-0}" = 1 ]; then
  echo "install-deps: WAVREL_SKIP_APT=1, not installing anything"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages already installed"
  exit 0
fi

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# munge, slurmctld and slurmd start their system services on install. The
# cluster test starts its own daemons (own ports, own munge socket) and never
# reads /etc/slurm, so the system's are not wanted: a policy-rc.d that denies
# starting services (honoured by invoke-rc.d and deb-systemd-invoke) stays in
# place for the install, unless the machine already has one.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# install-deps.sh: no services started during the install\nexit 101\n' |
    $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  trap '$SUDO rm -f "$policy"' EXIT
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
echo "install-deps: done"

#!/usr/bin/env bash
# Takes docs/dialog-zh_CN.png: the real wavrel-host under Xvfb with Chinese
# texts, its dialog converting a folder of 200 recordings (40 copies of the
# samples), the animation playing. The folders are chosen as a user does:
# a click on "...", the path typed into the picker, Return.
# Needs xvfb, xdotool, imagemagick and a CJK font (tools/install-deps.sh).
# Usage: tools/screenshot-zh.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d /tmp/wavrel-XXXXXX)
display=:$((90 + RANDOM % 100))
xvfb_pid= host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

in=$work/通话录音 out=$work/WAV
mkdir "$in" "$out"
for copy in $(seq -w 1 40); do
  for file in samples/*; do cp "$file" "$in/${copy}_${file##*/}"; done
done

Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
sleep 1
"$build/stage/wavrel-host" --lang zh_CN --open-converter >/dev/null 2>&1 &
host_pid=$!

# The dialog is the host's window that is not the main one ("Wavrel").
dialog=
for _ in $(seq 50); do
  for window in $(xdotool search --pid "$host_pid" 2>/dev/null); do
    [ "$(xdotool getwindowname "$window")" != Wavrel ] && dialog=$window
  done
  [ -n "$dialog" ] && break
  sleep 0.2
done
[ -n "$dialog" ] || { echo "screenshot-zh: the dialog did not open" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$dialog")"  # X, Y
click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; }

pick() {  # x y folder: "..." at x,y opens the picker; the path goes into its field
  click "$1" "$2"
  sleep 1.5
  xdotool type --delay 20 "$3"
  xdotool key Return
  sleep 1
}
pick 332 150 "$in"
pick 332 215 "$out"
click 121 278  # Convert
sleep 0.8
import -window "$dialog" docs/dialog-zh_CN.png
echo "screenshot-zh: docs/dialog-zh_CN.png ($(ls "$out" | wc -l) of 200 WAV files written when taken)"
# Let the run end, so that it leaves nothing behind.
for _ in $(seq 300); do
  [ "$(ls "$out" | wc -l)" -ge 200 ] && break
  sleep 0.2
done
sleep 1

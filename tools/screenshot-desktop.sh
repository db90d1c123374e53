#!/usr/bin/env bash
# Takes the desktop pictures of docs/ from the real wavrel-host under Xvfb,
# its folders chosen as a user does (a click on "...", the path typed into
# the picker, Return):
#   docs/dialog-done.png    the end of a run: how many WAV files it made and
#                           where, and the offer to open that folder
#   docs/picker-zh_CN.png   --lang zh_CN: the folder picker in Chinese too
#                           (Qt's own translations)
#   docs/dialog-dark.png    a dark colour scheme (KDE's Breeze Dark colours,
#                           read by Qt from kdeglobals), converting: the
#                           animation on the window's own background
#   docs/dialog-zh_CN.png   --lang zh_CN, converting a folder of 200
#                           recordings (40 copies of the samples)
# Needs xvfb, xdotool, imagemagick, a CJK font and qt6-translations-l10n
# (tools/install-deps.sh).
# Usage: tools/screenshot-desktop.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d /tmp/wavrel-shots.XXXXXX)
xvfb_pid= host_pid=
stop() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  host_pid= xvfb_pid=
}
trap 'stop; rm -rf "$work"' EXIT

recordings() {  # folder copies: the samples, copies times over
  mkdir -p "$1"
  for copy in $(seq -w 1 "$2"); do
    for file in samples/*; do cp "$file" "$1/${copy}_${file##*/}"; done
  done
}

# start NAME ARGS...: Xvfb and the host with --open-converter and ARGS, its
# settings in a folder of NAME's own; sets X, Y (the dialog's place) and
# dialog (its window).
start() {
  local display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$display
  sleep 1
  # Each picture has settings of its own: nothing is remembered from another.
  XDG_CONFIG_HOME=$work/config-$1 "$build/stage/wavrel-host" --open-converter "${@:2}" \
    >/dev/null 2>&1 &
  host_pid=$!
  # The dialog is the host's window that is not the main one ("Wavrel").
  dialog=
  for _ in $(seq 50); do
    for window in $(xdotool search --onlyvisible --pid "$host_pid" 2>/dev/null); do
      [ "$(xdotool getwindowname "$window")" != Wavrel ] && dialog=$window
    done
    [ -n "$dialog" ] && break
    sleep 0.2
  done
  [ -n "$dialog" ] || { echo "screenshot-desktop: the dialog did not open" >&2; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$dialog")"  # X, Y
}
click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; }
# The "..." buttons and Convert, in pixels of the dialog with the default font.
input_button=(332 150) output_button=(332 215) convert_button=(121 278)
pick() {  # x y folder: "..." at x,y opens the picker; the path goes into its field
  click "$1" "$2"
  sleep 1.5
  xdotool type --delay 20 "$3"
  xdotool key Return
  sleep 1
}
wait_for_wavs() {  # folder count
  for _ in $(seq 300); do
    [ "$(find "$1" -name '*.wav' | wc -l)" -ge "$2" ] && return
    sleep 0.2
  done
}

# 1. The end of a run.
recordings "$work/calls" 1
mkdir "$work/calls-wav"
start done --lang en
pick "${input_button[@]}" "$work/calls"
pick "${output_button[@]}" "$work/calls-wav"
click "${convert_button[@]}"
wait_for_wavs "$work/calls-wav" 5
sleep 1.5
import -window "$dialog" docs/dialog-done.png
stop

# 2. The folder picker in Chinese beside the dialog (there is no window
# manager: both are moved apart by hand), the host window above them.
mkdir -p "$work/通话录音/2026-11" "$work/通话录音/2026-12"
start zh --lang zh_CN
xdotool windowmove "$dialog" 10 190
eval "$(xdotool getwindowgeometry --shell "$dialog")"
click "${input_button[@]}"
sleep 1.5
picker=$(xdotool search --onlyvisible --name '请选择存放QCP文件的文件夹' | head -1)
xdotool windowmove "$picker" 405 330
sleep 0.3
xdotool type --delay 20 "$work/通话录音/"
sleep 1
import -window root docs/picker-zh_CN.png
xdotool key Escape
stop

# 3. A dark colour scheme, converting 200 recordings.
# The colours as a KDE user with Breeze Dark has them, in the user's config
# folder of this picture.
mkdir -p "$work/config-dark"
{
  printf '[KDE]\nwidgetStyle=Fusion\n'
  for group in Window:49,54,59 Button:49,54,59 View:35,38,41 Selection:61,174,233 \
    Tooltip:49,54,59; do
    printf '[Colors:%s]\nBackgroundNormal=%s\nForegroundNormal=239,240,241\n' \
      "${group%%:*}" "${group#*:}"
    case $group in
      Window:* | View:*) printf 'ForegroundInactive=161,169,177\nForegroundLink=29,153,243\n' ;;
    esac
  done
} >"$work/config-dark/kdeglobals"
recordings "$work/archive" 40
mkdir "$work/archive-wav"
XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 start dark --lang en
pick "${input_button[@]}" "$work/archive"
pick "${output_button[@]}" "$work/archive-wav"
click "${convert_button[@]}"
sleep 0.8
import -window "$dialog" docs/dialog-dark.png
# Let the run end, so that it leaves nothing behind.
wait_for_wavs "$work/archive-wav" 200
sleep 1
stop

# 4. Chinese texts, converting 200 recordings.
mkdir "$work/电话录音" "$work/WAV"
cp "$work/archive/"* "$work/电话录音/"
start zh-run --lang zh_CN
pick "${input_button[@]}" "$work/电话录音"
pick "${output_button[@]}" "$work/WAV"
click "${convert_button[@]}"
sleep 0.8
import -window "$dialog" docs/dialog-zh_CN.png
wait_for_wavs "$work/WAV" 200
sleep 1
echo "screenshot-desktop: docs/dialog-done.png, docs/picker-zh_CN.png, docs/dialog-dark.png," \
  "docs/dialog-zh_CN.png"

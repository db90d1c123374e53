#!/usr/bin/env bash
# `wavrel convert` in a real terminal (tmux): a progress line is kept up to
# date on it and erased before the summary, and the status echo does not
# repeat the file it names; with standard error in a file, or with --quiet,
# none is drawn and the echo names each file. Every byte the terminal got is
# recorded (pipe-pane), and the screen is read at the end (capture-pane).
# Usage: progress-tty-test.sh WAVREL SAMPLES_DIR
set -uo pipefail
wavrel=$1 samples=$2
if ! command -v tmux >/dev/null; then
  echo "SKIP: tmux is missing (bash tools/install-deps.sh installs it)"
  exit 77
fi
work=$(mktemp -d)
tmux=(tmux -f /dev/null -S "$work/socket")
trap '"${tmux[@]}" kill-server 2>/dev/null; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# Enough files that the line changes several times.
mkdir "$work/in"
for copy in 1 2 3; do
  for file in "$samples"/*; do cp "$file" "$work/in/$copy-${file##*/}"; done
done
count=$(ls "$work/in" | wc -l)

# The shell inherits this environment (sanitizer options included).
"${tmux[@]}" new-session -d -s t -x 150 -y 60 "bash --norc --noprofile"
run() {  # log, marker, command: runs it in the terminal, waits for the marker
  "${tmux[@]}" pipe-pane -t t "cat > $work/$1"
  "${tmux[@]}" send-keys -t t "$3; echo $2=\$?" Enter
  for _ in $(seq 600); do
    "${tmux[@]}" capture-pane -p -J -t t | grep -q "^$2=" && break
    sleep 0.1
  done
  "${tmux[@]}" pipe-pane -t t
  "${tmux[@]}" capture-pane -p -J -t t -S - > "$work/$1.screen"
  "${tmux[@]}" send-keys -t t clear Enter
  sleep 0.3
}

run tty.raw END1 "'$wavrel' convert --lang en '$work/in' '$work/out1'"
grep -q "^END1=0" "$work/tty.raw.screen" || fail "the terminal run did not end with status 0"
grep -qaF $'\r'"[1/$count] " "$work/tty.raw" || fail "no progress line [1/$count] was drawn"
grep -qaE "\[$((count - 1))/$count\] [0-9]+%  [0-9:]+ elapsed, [0-9:]+ left  " "$work/tty.raw" ||
  fail "no progress line with percent, times and the file in work"
grep -qaF $'\033[K' "$work/tty.raw" || fail "the progress line is not cleared to the end of the line"
[ "$(grep -c '^ok  ' "$work/tty.raw.screen")" = "$count" ] || fail "not $count per-file lines on the screen"
grep -q "^done: $count converted, 0 failed" "$work/tty.raw.screen" || fail "no summary on the screen"
grep -q "elapsed" "$work/tty.raw.screen" && fail "a progress line stayed on the screen"
# The progress line names the file in work: the status echo does not repeat
# it line after line, but other status texts still show.
grep -q "Converting [0-9]* of $count" "$work/tty.raw.screen" &&
  fail "the terminal filled with per-file \"Converting N of $count\" lines above the progress line"
grep -q "^wavrel: Conversion finished" "$work/tty.raw.screen" ||
  fail "the status text of the end of the run is missing from the terminal"

run file.raw END2 "'$wavrel' convert --lang en '$work/in' '$work/out2' 2>'$work/err.txt' >'$work/out.txt'"
grep -q "^END2=0" "$work/file.raw.screen" || fail "the redirected run did not end with status 0"
grep -qa elapsed "$work/err.txt" "$work/out.txt" "$work/file.raw" && fail "progress went to a file"
grep -qa $'\r' "$work/err.txt" "$work/out.txt" && fail "a carriage return went to a file"
[ "$(grep -c "^wavrel: Converting [0-9]* of $count: " "$work/err.txt")" = "$count" ] ||
  fail "without a progress line the status echo does not name each file"
diff <(sed "s|$work/out1|OUT|" "$work/tty.raw.screen" | grep -E '^(ok  |FAILED |done: )') \
  <(sed "s|$work/out2|OUT|" "$work/out.txt") >/dev/null ||
  fail "standard output differs between a terminal and a file"

run quiet.raw END3 "'$wavrel' convert --quiet --lang en '$work/in' '$work/out3'"
grep -q "^END3=0" "$work/quiet.raw.screen" || fail "the quiet run did not end with status 0"
grep -qa elapsed "$work/quiet.raw" && fail "--quiet still drew a progress line"
[ "$(grep -c "^wavrel: Converting [0-9]* of $count: " "$work/quiet.raw.screen")" = "$count" ] ||
  fail "with --quiet the status echo does not name each file"

# A message box during the run (a WAV that cannot be written) starts on a
# line of its own: the progress line steps aside for it too.
mkdir -p "$work/out4/1-greeting.wav"
run box.raw END4 "'$wavrel' convert --lang en '$work/in' '$work/out4'"
grep -q "^END4=1" "$work/box.raw.screen" || fail "the run with a failing file did not end with status 1"
grep -q "^== (!) Note ==" "$work/box.raw.screen" || fail "the message box does not start a line"
grep -q "elapsed" "$work/box.raw.screen" && fail "a progress line stayed on the screen beside the box"

[ $failed = 0 ] && echo "progress line: drawn on a terminal, erased before the summary, never in a file or with --quiet"
exit $failed

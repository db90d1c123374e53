#!/usr/bin/env bash
# Times `wavrel convert` on a whole folder, end to end.
#
#   bench/batch_bench.sh [BUILD_DIR]           200 recordings (the samples x40):
#       wavrel convert (default --jobs, and --jobs 1 when wavrel has --jobs)
#       against a loop of `ffmpeg -i f f.wav` over the same files and against
#       the limit (bench/decode_limit.cc: one process, libavcodec, every
#       packet, the WAVs written), in the same run (hyperfine): wall and CPU
#       times, `--jobs 1` CPU as a ratio to the limit's, the default run's
#       wall as a ratio to the ffmpeg loop's, the largest process's peak
#       memory, and (with eatmydata installed) the share of the batch time
#       that the syncs take
#   bench/batch_bench.sh --large [BUILD_DIR]   10,000 and 1,000 recordings:
#       wall time per file in each (10,000 should be within 10% of 1,000),
#       peak memory of the largest process (/usr/bin/time -v), and, sampled
#       every second of the 10,000 run, the open file descriptors and children
#       of wavrel (flat = nothing leaks); afterwards no converter left running
#       and no work folder left behind
#
# BUILD_DIR defaults to build (WAVREL=path uses another wavrel); the
# recordings are made under BENCH_TMP (default TMPDIR or /tmp): the large
# mode needs about 2.5 GB there. RUNS sets hyperfine's runs (default 3);
# SMALL_COPIES and LARGE_COPIES the large mode's sizes (200 and 2000 copies).
set -euo pipefail

large=0
if [ "${1:-}" = --large ]; then
  large=1
  shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
wavrel=${WAVREL:-$build/stage/wavrel}
[ -x "$wavrel" ] || {
  echo "batch_bench: no $wavrel (build first, or set WAVREL)" >&2
  exit 1
}
for tool in hyperfine ffmpeg jq /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "batch_bench: $tool is not installed (tools/install-deps.sh)" >&2
    exit 1
  }
done

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/batch_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# make_archive DIR COPIES: the samples COPIES times over, distinct names.
make_archive() {
  local i f b
  mkdir -p "$1"
  for ((i = 1; i <= $2; i++)); do
    for f in "$root"/samples/*; do
      b=$(basename "$f")
      cp "$f" "$1/${b%.*}-$i.${b##*.}"
    done
  done
}
has_jobs=0
"$wavrel" --help 2>&1 | grep -q -- --jobs && has_jobs=1
echo "batch_bench: $(nproc) CPUs, wavrel $("$wavrel" --version 2>/dev/null | head -n1 || echo "(no --version)")"

if [ $large = 0 ]; then
  make_archive "$work/in" 40
  n=$(ls "$work/in" | wc -l)
  echo "batch_bench: $n recordings, $(du -sh "$work/in" | cut -f1)"
  q() { printf '%q' "$1"; }
  out=$(q "$work/out")
  cmds=(-n "wavrel convert" "$(q "$wavrel") convert --yes $(q "$work/in") $out >/dev/null 2>&1")
  if [ $has_jobs = 1 ]; then
    cmds+=(-n "wavrel convert --jobs 1"
      "$(q "$wavrel") convert --yes --jobs 1 $(q "$work/in") $out >/dev/null 2>&1")
  fi
  # What the syncs cost (a WAV told made is on the disk): the same run with
  # every sync made a no-op by eatmydata, when it is installed. Measure on a
  # real disk (BENCH_TMP), not a tmpfs.
  if command -v eatmydata >/dev/null; then
    cmds+=(-n "wavrel convert, syncs off"
      "eatmydata $(q "$wavrel") convert --yes $(q "$work/in") $out >/dev/null 2>&1")
  fi
  limit=$build/programs/decoders/decode_limit
  cmake --build "$build" --target decode_limit >/dev/null
  cmds+=(-n "limit" "$(q "$limit") $out $(q "$work/in")/*")
  cmds+=(-n "ffmpeg loop"
    "for f in $(q "$work/in")/*; do ffmpeg -nostdin -v error -y -i \"\$f\" $out/\"\${f##*/}\".wav || exit 1; done")
  hyperfine --runs "${RUNS:-3}" --warmup 1 --prepare "rm -rf $out && mkdir $out" \
    --export-json "$work/times.json" "${cmds[@]}"
  echo
  # Wall and CPU (user + system, children included) per command, and how many
  # times faster each wavrel run is than the ffmpeg loop. On a busy machine
  # the wall times scatter: the CPU ratio is the steadier figure.
  jq -r '.results as $r | ($r[] | select(.command == "ffmpeg loop")) as $f
    | $r[] | "\(.command): wall \(.mean * 1000 | round) ms (±\((.stddev // 0) * 1000 | round)),"
      + " CPU \((.user + .system) * 1000 | round) ms"
      + (if .command == "ffmpeg loop" then ""
         else ", \($f.mean / .mean * 100 | round / 100)x faster than the ffmpeg loop"
           + " (CPU \(($f.user + $f.system) / (.user + .system) * 100 | round / 100)x)" end)' \
    "$work/times.json"
  jq -r '.results as $r | ($r[] | select(.command == "limit")) as $l
    | ($r[] | select(.command == "ffmpeg loop")) as $f
    | ($r[] | select(.command == "wavrel convert")) as $d
    | ($r[] | select(.command == "wavrel convert --jobs 1")) as $one
    | "wavrel convert --jobs 1 CPU: \(($one.user + $one.system) / ($l.user + $l.system) * 100 | round / 100)x the limit (target <= 1.3x)",
      "wavrel convert wall: \($f.mean / $d.mean * 100 | round / 100)x faster than the ffmpeg loop (target >= 8x)",
      ([$r[] | select(.command == "wavrel convert, syncs off")][0] as $n
        | if $n == null then empty else
            "the syncs: wavrel convert wall \($d.mean / $n.mean * 100 | round / 100)x that with syncs off"
            + " (they cost \((($d.mean - $n.mean) / $d.mean * 1000 | round) / 10)% of the batch time)" end)' \
    "$work/times.json" 2>/dev/null || true
  rm -rf "$work/out" && mkdir "$work/out"
  /usr/bin/time -v -o "$work/time-peak" "$wavrel" convert --yes "$work/in" "$work/out" >/dev/null 2>&1
  echo "peak memory of the largest process of wavrel convert:" \
    "$(($(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time-peak") / 1024)) MB (target <= 25 MB)"
  exit 0
fi

# --large: one measured run of N recordings. Prints one line of figures.
measure() {
  local copies=$1 n in=$work/in-$1 out=$work/out-$1 tmp=$work/tmp-$1 pid
  make_archive "$in" "$copies"
  n=$(ls "$in" | wc -l)
  mkdir -p "$tmp"
  TMPDIR=$tmp /usr/bin/time -v -o "$work/time-$copies" "$wavrel" convert --yes "$in" "$out" \
    >"$work/log-$copies" 2>&1 &
  pid=$!
  # Samples the open descriptors and children of wavrel (the child of time).
  : >"$work/samples-$copies"
  while kill -0 $pid 2>/dev/null; do
    local w
    w=$(pgrep -P $pid -x wavrel | head -n1 || true)
    if [ -n "$w" ] && [ -d /proc/"$w" ]; then
      echo "$(ls /proc/"$w"/fd 2>/dev/null | wc -l) $(pgrep -P "$w" | wc -l)" >>"$work/samples-$copies"
    fi
    sleep 1
  done
  wait $pid || echo "batch_bench: wavrel exited with status $? (see below)"
  local wall_s rss_kb
  wall_s=$(awk -F': ' '/Elapsed \(wall clock\)/ {
      n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' \
    "$work/time-$copies")
  rss_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time-$copies")
  echo "$n recordings: wall ${wall_s} s, $(awk -v w="$wall_s" -v n="$n" 'BEGIN {printf "%.2f", w * 1000 / n}') ms per file," \
    "peak memory $((rss_kb / 1024)) MB (largest process), WAVs $(ls "$out" | wc -l)," \
    "$(grep -c '^ok' "$work/log-$copies" || true) ok lines"
  if [ -s "$work/samples-$copies" ]; then
    awk '{ if (NR == 1) { f1 = $1; c1 = $2 } if ($1 > fm) fm = $1; if ($2 > cm) cm = $2; fl = $1; cl = $2 }
      END { printf "  wavrel while running (%d samples): open fds first %d, max %d, last %d;" \
        " children first %d, max %d, last %d\n", NR, f1, fm, fl, c1, cm, cl }' "$work/samples-$copies"
  fi
  echo "  after the run: $(pgrep -x vocrate | wc -l) vocrate, $(pgrep -x evrc_2004 | wc -l) evrc_2004 and $(pgrep -x wavrel-worker | wc -l) wavrel-worker" \
    "running, $(ls -A "$tmp" | wc -l) entries left in its TMPDIR"
  echo "$wall_s $n" >"$work/result-$copies"
  grep -v '^ok' "$work/log-$copies" | tail -n 3 | sed 's/^/  /'
  rm -rf "$in" "$out"
}

small=${SMALL_COPIES:-200}  # 1,000 recordings
large=${LARGE_COPIES:-2000} # 10,000 recordings
measure "$small"
measure "$large"
read -r w1 n1 <"$work/result-$small"
read -r w2 n2 <"$work/result-$large"
awk -v w1="$w1" -v n1="$n1" -v w2="$w2" -v n2="$n2" 'BEGIN {
  printf "time per file, %d against %d recordings: %.2f (within 10%%: %s)\n", n2, n1,
    (w2 / n2) / (w1 / n1), ((w2 / n2) / (w1 / n1) <= 1.10 ? "yes" : "no") }'

#!/usr/bin/env bash
# Times evrc_2004 against ffmpeg's own EVRC decoding on a ~40-minute recording
# made of the sample recordings' packets repeated.
#
#   bench/decoder_bench.sh [BUILD_DIR]     (default: build)
#
# Needs a configured build folder (evrc_2004 and vocrate are built here;
# EVRC_2004=path and VOCRATE=path use given programs instead), hyperfine and
# ffmpeg. Prints hyperfine's table and the ratios of the mean times, wall
# clock and CPU; the decoder should take at most 0.7x ffmpeg's time. On a
# busy machine the wall times scatter: the CPU times are the steadier figure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
repeats=${REPEATS:-36}   # 36 x the five samples (3377 frames) = 121572 frames, 40.5 minutes

for tool in hyperfine ffmpeg cmake; do
  command -v "$tool" >/dev/null || { echo "decoder_bench: $tool is not installed" >&2; exit 1; }
done
stage=$build/stage/Plugins/WavrelPlugin
decoder=${EVRC_2004:-$stage/evrc_2004}
vocrate=${VOCRATE:-$stage/vocrate}
if [[ -z ${EVRC_2004:-} || -z ${VOCRATE:-} ]]; then
  cmake --build "$build" --target evrc_2004 vocrate >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/decoder_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Little-endian 32-bit number at a byte offset of a file.
u32_at() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
# Writes a little-endian 32-bit number at a byte offset of a file.
put_u32() {
  local v=$3
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $((v >> 8 & 255)) \
    $((v >> 16 & 255)) $((v >> 24 & 255)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# Packet data of each sample: the data chunk's bytes after the 194-byte header
# (its size at offset 190; a pad byte after an odd size is left out), and the
# number of packets (offset 182).
header=194
packets=0
: >"$work/one.data"
for f in "$root"/samples/*; do
  size=$(u32_at "$f" 190)
  tail -c +$((header + 1)) "$f" | head -c "$size" >>"$work/one.data"
  packets=$((packets + $(u32_at "$f" 182)))
done
for ((i = 0; i < repeats; i++)); do cat "$work/one.data"; done >"$work/all.data"
data_size=$(stat -c %s "$work/all.data")
packets=$((packets * repeats))

# The header of the first sample with the sizes patched: RIFF size (4), packet
# count (182), data chunk size (190); a pad byte when the data size is odd.
first=$(ls "$root"/samples/* | head -n 1)
head -c $header "$first" >"$work/long.qcp"
pad=$((data_size % 2))
put_u32 "$work/long.qcp" 4 $((data_size + header - 8 + pad))
put_u32 "$work/long.qcp" 182 $packets
put_u32 "$work/long.qcp" 190 "$data_size"
cat "$work/all.data" >>"$work/long.qcp"
((pad)) && printf '\0' >>"$work/long.qcp"
rm "$work/one.data" "$work/all.data"

(cd "$work" && "$vocrate" long.qcp long.evrc 1 >/dev/null)
frames=$(($(stat -c %s "$work/long.evrc") / 24))
echo "recording: $frames frames, $((frames / 3000)) minutes $((frames % 3000 / 50)) seconds"

cd "$work"
hyperfine --warmup 1 --runs 5 --export-json times.json \
  -n evrc_2004 "$decoder -i long.evrc -o out.pcm -d" \
  -n ffmpeg "ffmpeg -v quiet -y -i long.qcp -f s16le out2.pcm"

cmp -s out.pcm out2.pcm && echo "outputs: identical" || echo "outputs: DIFFER"
# Mean wall time and mean CPU time (user + system) of a named command.
field() {
  awk -v name="\"$1\"" -v key="\"$2\":" '
    $1 == "\"command\":" { inside = ($2 == name ",") }
    inside && $1 == key { sub(",", "", $2); print $2; exit }' times.json
}
awk -v a="$(field evrc_2004 mean)" -v b="$(field ffmpeg mean)" \
  -v au="$(field evrc_2004 user)" -v as="$(field evrc_2004 system)" \
  -v bu="$(field ffmpeg user)" -v bs="$(field ffmpeg system)" 'BEGIN {
    printf "wall: evrc_2004 %.3f s, ffmpeg %.3f s, ratio %.2f (target <= 0.70)\n", a, b, a / b
    printf "cpu:  evrc_2004 %.3f s, ffmpeg %.3f s, ratio %.2f\n", au + as, bu + bs, (au + as) / (bu + bs)
  }'

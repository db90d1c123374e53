#!/usr/bin/env bash
# Runs every benchmark against its baseline, in one go:
#   vocrate (both directions) against `cat` on a ~200 MB QCP file,
#   evrc_2004 against ffmpeg's own EVRC decoding on a ~40-minute recording.
#
#   bash bench/run.sh [BUILD_DIR]      (default: build; built first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
cmake --build "$build" --target vocrate evrc_2004
echo "== vocrate against cat"
bash "$root/bench/vocrate_bench.sh" "$build/stage/Plugins/WavrelPlugin/vocrate"
echo
echo "== evrc_2004 against ffmpeg"
bash "$root/bench/decoder_bench.sh" "$build"

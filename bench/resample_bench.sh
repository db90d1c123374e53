#!/usr/bin/env bash
# The resampler's quality and cost per output rate (see resample_bench.cc):
# SNR of a 1 kHz sine against the exact one, its delay, level and
# frequency, image and alias rejection, and ms per 25 s recording; beside
# libswresample's default filter when the build found libswresample.
#
#   bash bench/resample_bench.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target resample_bench >/dev/null
"$build/core/resample_bench"

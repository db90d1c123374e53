#!/usr/bin/env bash
# What the syncs that make a WAV survive a power cut cost, on the disk that
# holds FOLDER (not tmpfs, where a sync costs nothing):
#
#   bench/sync_bench.sh [BUILD_DIR] [FOLDER]
#
# writes COUNT (default 200) files of SIZE bytes (default 100 KB) the way the
# WAV writer does, three times: without syncs; each file synced before its
# rename and the folder after each rename; and the folder synced once per
# BATCH (default 8) renames; THREADS (default 1) writers at once, as
# --jobs runs them. Links bench/sync_bench.cc against the built
# platform library. FOLDER defaults to a new folder under the build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
cmake --build "$build" --target wavrel_platform wavrel_base >/dev/null
work=$(mktemp -d "${2:-$build}/sync_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++20 -I"$build/include/wavrel_platform/public" -I"$build/include/wavrel_base/public" \
  "$root/bench/sync_bench.cc" "$build/platform/libwavrel_platform.a" \
  "$build/base/libwavrel_base.a" -lpthread -o "$work/sync_bench"
echo "sync_bench: ${COUNT:-200} files of ${SIZE:-102400} bytes, ${THREADS:-1} writer(s)," \
  "on $(df --output=fstype,source "$work" | tail -1)"
"$work/sync_bench" "$work" "${COUNT:-200}" "${SIZE:-102400}" "${BATCH:-8}" "${THREADS:-1}"

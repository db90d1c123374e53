#!/usr/bin/env bash
# Runs every fuzz target (fuzz/) for SECONDS each and prints, per target, the
# executions, executions per second, coverage (libFuzzer's cov: edges and ft:
# features at the end) and crashes. Builds the clang configuration in
# build-fuzz/ first when needed (only the fuzz targets and what they link).
#
#   bash bench/fuzz.sh [SECONDS] [TARGET...]     (default: 60 s, every target)
#
# New inputs go to build-fuzz/fuzz-work/<target>/ (the committed seeds in
# fuzz/corpus/ are only read); a crashing input is kept under
# build-fuzz/fuzz-artifacts/<target>/. Exit status 1 when any target crashed.
# FUZZ_NICE (default 10) is the niceness of the runs; FUZZ_JOBS (default 1)
# how many targets run at the same time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=$root/build-fuzz
all=(qcp_to_evrc evrc_to_qcp decoder xml_reader gif_walker ini_locale code_page console_args
  qcelp_decoder qcp_tags qcp_codec)
[ $# -gt 0 ] && targets=("$@") || targets=("${all[@]}")

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DWAVREL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target fuzz_all >/dev/null

# One target: runs it, leaves its table row in <target>.row and its failure
# report in <target>.failure; the exit status is the fuzzer's.
run_one() {
  local t=$1 work=$build/fuzz-work/$1 artifacts=$build/fuzz-artifacts/$1
  local log=$build/fuzz-work/$1.log status=0
  rm -rf "$artifacts"
  mkdir -p "$work" "$artifacts"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    nice -n "${FUZZ_NICE:-10}" "$build/fuzz/fuzz_$t" -max_total_time="$seconds" \
    -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/" \
    "$work" "$root/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  local execs rate cov ft crashes
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$( (grep -o 'cov: [0-9]*' "$log" || true) | tail -1 | cut -d' ' -f2)
  ft=$( (grep -o 'ft: [0-9]*' "$log" || true) | tail -1 | cut -d' ' -f2)
  crashes=$(find "$artifacts" -type f | wc -l)
  rm -f "$build/fuzz-work/$t.failure"
  if [ "$status" -ne 0 ]; then
    [ "$crashes" -eq 0 ] && crashes="exit $status"
    {
      echo "  $t failed; from its log ($log):"
      grep -A25 -m1 'ERROR\|property does not hold\|runtime error' "$log" | sed 's/^/    /' ||
        tail -20 "$log"
    } >"$build/fuzz-work/$t.failure"
  fi
  printf '%-14s %8s %12s %10s %8s %8s %8s\n' "$t" "$seconds" "${execs:--}" "${rate:--}" \
    "${cov:--}" "${ft:--}" "$crashes" >"$build/fuzz-work/$t.row"
  return "$status"
}

# FUZZ_JOBS targets at a time (default 1).
failed=0
running=()
for t in "${targets[@]}"; do
  run_one "$t" &
  running+=($!)
  if [ ${#running[@]} -ge "${FUZZ_JOBS:-1}" ]; then
    wait "${running[0]}" || failed=1
    running=("${running[@]:1}")
  fi
done
for pid in "${running[@]}"; do wait "$pid" || failed=1; done

printf '%-14s %8s %12s %10s %8s %8s %8s\n' target seconds executions exec/s cov ft crashes
for t in "${targets[@]}"; do cat "$build/fuzz-work/$t.row"; done
for t in "${targets[@]}"; do cat "$build/fuzz-work/$t.failure" 2>/dev/null || true; done
exit "$failed"

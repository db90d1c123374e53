#!/usr/bin/env bash
# The cluster examples on a real scheduler: a single-node Slurm of our own
# (tools/slurm-local.sh) runs examples/slurm/wavrel-array.sbatch as a 4-task
# array, and examples/parallel/run.sh runs 4 shards on local slots.
#
#   tools/cluster-test.sh [BUILD_DIR]     (default: build)
#
# First a smoke check of the machinery with a stand-in for wavrel (each task
# reports its shard; a few seconds): the daemons start and stop, the array's
# tasks get 0/4..3/4 once each, their work folders are private and removed,
# the reports merge. Then, when wavrel has --shard, the real thing over 40
# recordings: the union of the shards' WAVs is byte for byte the WAVs of one
# single-machine run under the same names, the reports add up, and a rerun
# skips everything. Root only (Slurm runs jobs as their user): skipped
# otherwise, with status 0.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath "${1:-build}")
wavrel=$build/stage/wavrel

if [ "$(id -u)" != 0 ]; then
  echo "cluster-test: skipped: needs root (a local Slurm runs jobs as their user)"
  exit 0
fi
for p in jq parallel sbatch; do
  command -v "$p" >/dev/null || {
    echo "cluster-test: $p is missing: run tools/install-deps.sh" >&2
    exit 1
  }
done
[ -x "$wavrel" ] || {
  echo "cluster-test: no $wavrel: build first" >&2
  exit 1
}

# Under /tmp with a short name: Slurm's config lines must not hold blanks.
tmp=$(mktemp -d /tmp/wavrel-cluster.XXXXXX)
chmod 755 "$tmp"
slurm=$tmp/slurm
cleanup() {
  bash "$root/tools/slurm-local.sh" stop "$slurm" >/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "cluster-test: FAILED: $*" >&2
  for f in "$tmp"/slurm-out/*.out; do
    [ -f "$f" ] && { echo "---- $f" >&2; cat "$f" >&2; }
  done
  exit 1
}

# Runs the example array: sbatch_array WAVREL IN OUT REPORTS. A bounded wait;
# the array's exit status is its worst task's.
# ARRAY=1,3 runs only those tasks (with WAVREL_SHARDS=4, as a rerun would).
sbatch_array() {
  mkdir -p "$tmp/slurm-out"
  WAVREL=$1 timeout 300 sbatch --wait --quiet --array="${ARRAY:-0-3}" \
    --output="$tmp/slurm-out/task-%a.out" --chdir="$tmp" \
    "$root/examples/slurm/wavrel-array.sbatch" "$2" "$3" "$4"
}

# Merges a folder of shard reports: prints "SHARDS FILES OK FAILED SKIPPED
# LINES" (summary objects summed; LINES = per-recording objects).
merge_reports() {
  jq -s -r '[.[] | select(.summary == true)] as $s
    | [.[] | select(.summary != true)] as $r
    | [($s | length), ($s | map(.files) | add), ($s | map(.ok) | add),
       ($s | map(.failed) | add), ($s | map(.skipped) | add), ($r | length)]
    | map(tostring) | join(" ")' "$1"/report-*.jsonl
}

echo "== cluster: a local Slurm"
t0=$(date +%s%N)
rc=0
bash tools/slurm-local.sh start "$slurm" || rc=$?
[ $rc -eq 0 ] || fail "the local Slurm did not start (status $rc)"
# Only our cluster: no settings of a Slurm this may itself run under.
unset $(compgen -v | grep -E '^(SLURM|SBATCH|SALLOC|SRUN)_') WAVREL_SHARDS
export SLURM_CONF=$slurm/slurm.conf
echo "cluster-test: Slurm up in $((($(date +%s%N) - t0) / 1000000)) ms"

# A stand-in for wavrel: one recording per shard, named after the shard; it
# checks that its work folder (TMPDIR) is private and writable.
stub=$tmp/wavrel-stub
cat >"$stub" <<'EOF'
#!/bin/bash
shard=""
while [ $# -gt 0 ]; do
  case $1 in --shard | --jobs) [ "$1" = --shard ] && shard=$2; shift 2 ;; --) shift; break ;; *) shift ;; esac
done
[ -d "$TMPDIR" ] && [ "$TMPDIR" != /tmp ] && [ -z "$(ls -A "$TMPDIR")" ] || exit 3
touch "$TMPDIR/x"
echo "$TMPDIR" >>"$2/workdirs"
printf '{"input": "%s", "wav": "%s", "status": "ok", "reason": "", "frames": 1, "lost": 0, "seconds": 0.02, "cut_short": false}\n' \
  "shard-${shard%/*}" "shard-${shard%/*}.wav"
printf '{"summary": true, "files": 1, "ok": 1, "failed": 0, "skipped": 0, "cancelled": false, "shard": "%s"}\n' "$shard"
EOF
chmod +x "$stub"

# check_stub_run OUT REPORTS: 4 shards, each of 0/4..3/4 once, work folders gone.
check_stub_run() {
  local shards
  shards=$(jq -r 'select(.summary == true) | .shard' "$2"/report-*.jsonl | sort | tr '\n' ' ')
  [ "$shards" = "0/4 1/4 2/4 3/4 " ] || fail "the tasks got the shards '$shards'"
  [ "$(merge_reports "$2")" = "4 4 4 0 0 4" ] || fail "the reports merge into '$(merge_reports "$2")'"
  [ "$(sort -u "$1/workdirs" | wc -l)" = 4 ] || fail "the tasks shared a work folder"
  while read -r w; do [ ! -e "$w" ] || fail "work folder $w left behind"; done <"$1/workdirs"
}

echo "== cluster: smoke check, the example array with a stand-in for wavrel"
mkdir -p "$tmp/smoke-in"
sbatch_array "$stub" "$tmp/smoke-in" "$tmp/smoke-slurm" "$tmp/smoke-slurm-reports" ||
  fail "the array did not succeed"
check_stub_run "$tmp/smoke-slurm" "$tmp/smoke-slurm-reports"
# A rerun of two tasks keeps the shard count of the whole array.
rm -f "$tmp"/smoke-slurm-reports/*
ARRAY=1,3 WAVREL_SHARDS=4 sbatch_array "$stub" "$tmp/smoke-in" "$tmp/smoke-slurm" \
  "$tmp/smoke-slurm-reports" || fail "the rerun of tasks 1 and 3 did not succeed"
[ "$(jq -r .shard "$tmp"/smoke-slurm-reports/report-*.jsonl | grep / | tr '\n' ' ')" = "1/4 3/4 " ] ||
  fail "the rerun of tasks 1 and 3 got other shards"
echo "cluster-test: Slurm array of 4 tasks ok, and a rerun of 2 of them"

echo "== cluster: smoke check, GNU parallel on local slots with a stand-in"
WAVREL=$stub bash examples/parallel/run.sh -j 2 -n 4 "$tmp/smoke-in" "$tmp/smoke-par" \
  "$tmp/smoke-par-reports" </dev/null || fail "run.sh did not succeed"
check_stub_run "$tmp/smoke-par" "$tmp/smoke-par-reports"
echo "cluster-test: GNU parallel over 4 shards ok"

if ! "$wavrel" --help 2>&1 | grep -q -- --shard; then
  echo "cluster-test: skipped: wavrel has no --shard yet (the Slurm and GNU parallel machinery passed)"
  exit 0
fi

echo "== cluster: 40 recordings, one run against 4 shards"
in=$tmp/in
mkdir -p "$in"
for i in 1 2 3 4 5 6 7 8; do
  for f in samples/*; do
    b=$(basename "$f")
    cp "$f" "$in/${b%.*}-$i.${b##*.}"
  done
done
[ "$(ls "$in" | wc -l)" = 40 ] || fail "expected 40 recordings"
"$wavrel" convert --yes --json "$in" "$tmp/ref" >"$tmp/ref.jsonl" || fail "the single-machine run failed"
[ "$(ls "$tmp/ref" | wc -l)" = 40 ] || fail "the single-machine run made $(ls "$tmp/ref" | wc -l) WAVs"
[ "$(jq -r 'select(.summary == true) | "\(.files) \(.ok)"' "$tmp/ref.jsonl")" = "40 40" ] ||
  fail "the single-machine run's summary is not 40 of 40 ok"

# same_wavs DIR: the same names as the single-machine run, byte for byte.
same_wavs() {
  diff <(ls "$tmp/ref") <(ls "$1" | grep -v '^workdirs$') >&2 || fail "$1 holds other names than one run"
  for w in "$tmp"/ref/*; do
    cmp -s "$w" "$1/$(basename "$w")" || fail "$1/$(basename "$w") differs from one run's"
  done
}
# check_lines REPORTS: one line per recording, all ok, naming the WAVs of one run.
check_lines() {
  [ "$(jq -r 'select(.summary != true) | .status' "$1"/report-*.jsonl | sort -u)" = ok ] ||
    fail "a recording of $1 is not ok"
  diff <(ls "$tmp/ref") <(jq -r 'select(.summary != true) | .wav' "$1"/report-*.jsonl |
    xargs -d '\n' -n1 basename | sort) >&2 || fail "the reports of $1 name other WAVs"
}

sbatch_array "$wavrel" "$in" "$tmp/slurm-wav" "$tmp/slurm-reports" || fail "the array did not succeed"
same_wavs "$tmp/slurm-wav"
[ "$(merge_reports "$tmp/slurm-reports")" = "4 40 40 0 0 40" ] ||
  fail "Slurm reports merge into '$(merge_reports "$tmp/slurm-reports")'"
check_lines "$tmp/slurm-reports"
echo "cluster-test: Slurm array: 40 WAVs identical to one run, reports add up"

WAVREL=$wavrel bash examples/parallel/run.sh -j 2 -n 4 "$in" "$tmp/par-wav" "$tmp/par-reports" </dev/null ||
  fail "run.sh did not succeed"
same_wavs "$tmp/par-wav"
[ "$(merge_reports "$tmp/par-reports")" = "4 40 40 0 0 40" ] ||
  fail "parallel reports merge into '$(merge_reports "$tmp/par-reports")'"
check_lines "$tmp/par-reports"
# A rerun (a new job log) finds every WAV complete: all skipped, nothing changed.
WAVREL=$wavrel bash examples/parallel/run.sh -j 2 -n 4 "$in" "$tmp/par-wav" "$tmp/par-rerun" </dev/null ||
  fail "the rerun did not succeed"
[ "$(merge_reports "$tmp/par-rerun")" = "4 40 0 0 40 40" ] ||
  fail "the rerun's reports merge into '$(merge_reports "$tmp/par-rerun")'"
same_wavs "$tmp/par-wav"
echo "cluster-test: GNU parallel: 40 WAVs identical to one run, reports add up, a rerun skips all"

#!/bin/bash
# Converts an archive with GNU parallel: the list is cut into SHARDS shards
# (shard K/N: recordings K, K+N, K+2N ... of the sorted list), run on the
# local CPUs or on several hosts over ssh; the shards together give exactly
# the WAVs of one `wavrel convert` run, under the same names.
#
#   run.sh [-j SLOTS] [-n SHARDS] [-S SSHLOGINFILE] INPUT_DIR OUTPUT_DIR [REPORTS]
#
#   -j SLOTS    shards at a time per host (default: the host's CPUs)
#   -n SHARDS   number of shards (default 4 x the local CPUs); more shards
#               than slots balance the load
#   -S FILE     hosts, one per line (`8/user@node1` = 8 slots there); the
#               folders must be at the same paths on every host (shared
#               storage), and wavrel on each host's PATH or at WAVREL
#
# Each shard writes REPORTS/report-K.jsonl (default OUTPUT_DIR/reports) and
# converts with --jobs 1 (parallel's slots give the parallelism). Run it again
# after a failure or an interruption: complete WAVs are skipped, and
# REPORTS/parallel.log (parallel's job log) lets it rerun only the failed
# shards. Exit status: the number of failed shards (0 = all converted).
set -euo pipefail

slots=""
shards=""
sshlogin=()
while getopts j:n:S: o; do
  case $o in
  j) slots=$OPTARG ;;
  n) shards=$OPTARG ;;
  S) sshlogin=(--sshloginfile "$OPTARG") ;;
  *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 [-j SLOTS] [-n SHARDS] [-S SSHLOGINFILE] INPUT_DIR OUTPUT_DIR [REPORTS]" >&2
  exit 2
fi
# Absolute paths: a remote shell starts in the home folder.
in=$(realpath -- "$1")
out=$(realpath -m -- "$2")
reports=$(realpath -m -- "${3:-$out/reports}")
shards=${shards:-$((4 * $(nproc)))}
wavrel=${WAVREL:-wavrel}
mkdir -p "$out" "$reports"

# One shard: a private work folder on the host's local disk, removed after.
q() { printf '%q' "$1"; }
cmd="w=\$(mktemp -d) || exit 1; TMPDIR=\$w $(q "$wavrel") convert --yes --skip-existing --json --jobs 1"
cmd+=" --shard {}/$shards -- $(q "$in") $(q "$out") > $(q "$reports")/report-{}.jsonl;"
cmd+=" rc=\$?; rm -rf \"\$w\"; exit \$rc"

# --resume-failed with the job log: a rerun redoes only what failed.
parallel ${slots:+--jobs "$slots"} "${sshlogin[@]}" --joblog "$reports/parallel.log" \
  --resume-failed --halt never "$cmd" ::: $(seq 0 $((shards - 1)))

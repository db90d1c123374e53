#!/usr/bin/env bash
# Times vocrate in both directions on a ~200 MB QCP file against copying the
# same source with cat, and reports each direction's peak memory.
#
#   bench/vocrate_bench.sh [VOCRATE]   (default: build/stage/Plugins/WavrelPlugin/vocrate)
#
# Builds nothing. Needs hyperfine and /usr/bin/time. SIZE_MB sets the QCP
# size, JSON the path of hyperfine's JSON export (default ./vocrate_bench.json).
# Target: each direction at most 4x cat's time, peak memory well under
# 32 MB (vocrate streams in 1 MiB blocks whatever the file size).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
vocrate=$(realpath "${1:-$root/build/stage/Plugins/WavrelPlugin/vocrate}")
size_mb=${SIZE_MB:-200}
json=$(realpath -m "${JSON:-vocrate_bench.json}")   # written in the current folder
[[ -x $vocrate ]] || { echo "vocrate_bench: no program at $vocrate" >&2; exit 1; }
for tool in hyperfine /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "vocrate_bench: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vocrate_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"   # vocrate appends to loss_stat.txt in its working directory

# One unit: the packets of every sample as raw EVRC records.
for sample in "$root"/samples/*; do
  "$vocrate" "$sample" "unit.part" 1 >/dev/null
  cat unit.part >> unit.evrc
done
# About 1 MiB of records, then as many of those as the QCP size needs. A QCP
# packet takes about 20 bytes where its EVRC record takes 24.
unit_bytes=$(stat -c %s unit.evrc)
for ((i = 0; i < (1048576 + unit_bytes - 1) / unit_bytes; i++)); do cat unit.evrc; done > chunk.evrc
chunk_bytes=$(stat -c %s chunk.evrc)
chunks=$(( (size_mb * 1048576 * 24 / 20 + chunk_bytes - 1) / chunk_bytes ))
for ((i = 0; i < chunks; i++)); do cat chunk.evrc; done > big.evrc
"$vocrate" big.evrc big.qcp 0 >/dev/null
rm -f loss_stat.txt
echo "QCP file: $(( $(stat -c %s big.qcp) / 1048576 )) MiB, EVRC file: $(( $(stat -c %s big.evrc) / 1048576 )) MiB"

hyperfine --warmup 1 --runs 5 --export-json "$json" \
  --export-csv times.csv \
  -n "cat qcp" "cat big.qcp > copy.out" \
  -n "qcp->evrc" "'$vocrate' big.qcp out.evrc 1 > /dev/null" \
  -n "cat evrc" "cat big.evrc > copy.out" \
  -n "evrc->qcp" "'$vocrate' big.evrc out.qcp 0 > /dev/null"

mean() { awk -F, -v name="$1" '$1 == name { print $2 }' times.csv; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
peak() { /usr/bin/time -f %M "$vocrate" "$@" 2>&1 >/dev/null | tail -n 1; }
echo
echo "qcp->evrc: $(ratio "$(mean 'qcp->evrc')" "$(mean 'cat qcp')")x cat, peak $(peak big.qcp out.evrc 1) KB"
echo "evrc->qcp: $(ratio "$(mean 'evrc->qcp')" "$(mean 'cat evrc')")x cat, peak $(peak big.evrc out.qcp 0) KB"
echo "(hyperfine JSON: $json)"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# varnex-list over many data sets: one call with every data set against one call per data set.
# Usage: bench/batch-list.sh [varnex-list] [repeats] [data set...]
# Defaults: build/cli/varnex-list, 5 repeats, every data file of ../shared/data. Prints the best of the
# repeats for each, and the target: the batch no slower than the sum of single calls / processors + 10%.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$root/build/cli/varnex-list}
repeats=${2:-5}
shift 2 || shift $#
if [ $# -eq 0 ]; then
    set -- "$root"/../shared/data/*.mzML "$root"/../shared/data/*.mzML.gz "$root"/../shared/data/*.mzXML
fi
processors=$(nproc)

seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
best() { sort -g | head -1; }

singles=0
for dataSet in "$@"; do
    single=$(for _ in $(seq "$repeats"); do seconds "$program" --quiet "$dataSet"; done | best)
    singles=$(awk -v a="$singles" -v b="$single" 'BEGIN { print a + b }')
done
batch=$(for _ in $(seq "$repeats"); do seconds "$program" --quiet "$@"; done | best)
target=$(awk -v s="$singles" -v n="$processors" 'BEGIN { print s / n * 1.1 }')
printf 'data sets %d, processors %d\n' $# "$processors"
printf 'sum of single calls  %.3f s\n' "$singles"
printf 'one batch call       %.3f s\n' "$batch"
printf 'target (sum / %d + 10%%) %.3f s: %s\n' "$processors" "$target" \
    "$(awk -v b="$batch" -v t="$target" 'BEGIN { print (b <= t) ? "met" : "missed" }')"

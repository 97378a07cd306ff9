#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Generates the benchmark data sets into bench/data/ (git-ignored): the 60-minute reference run with
# centroid survey scans (0.6 GB) and its profile variant (1.2 GB), each with its ground-truth precursor
# table, and three short runs crowded with overlapping envelopes (6000 features in 4 minutes, seeds 1-3)
# that show the charge routine on dense survey scans. Existing files are kept; pass --force to write them again. Runs at low priority.
# Usage: bench/make-data.sh [--force] [generator]
set -euo pipefail
cd "$(dirname "$0")"
force=0
if [[ "${1:-}" == "--force" ]]; then
    force=1
    shift
fi
generator="${1:-${VARNEX_DDA_GENERATOR:-$(cd ../.. && pwd)/shared/tools/gen_dda_mzml.py}}"
mkdir -p data

make_one() {
    local name="$1"
    shift
    if [[ $force -eq 0 && -s "data/$name.mzML" && -s "data/$name.truth.tsv" ]]; then
        echo "data/$name.mzML exists"
        return
    fi
    # Write under a temporary name so that a half-written file is never taken for a finished one.
    nice -n 10 python3 "$generator" -o "data/$name.part.mzML" --truth "data/$name.truth.part.tsv" "$@"
    mv "data/$name.truth.part.tsv" "data/$name.truth.tsv"
    mv "data/$name.part.mzML" "data/$name.mzML"
    echo "data/$name.mzML written"
}

make_one run60
make_one run60-profile --profile
for seed in 1 2 3; do
    make_one "dense$seed" --minutes 4 --features 6000 --seed "$seed"
done

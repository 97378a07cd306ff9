#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Seconds from starting the list window on a data set until its precursor list is on the screen, on a
# virtual X display (Xvfb), best of N starts, each with a fresh settings store and runtime directory.
# The list is filled before the window is mapped, so the moment the main window (not the smaller
# progress dialog) is mapped is the moment the list shows.
# Usage: tools/launch-time.sh [--repeat N] [DATA_SET]   (default: 3 starts, bench/data/run60.mzML)
# Prints one line: "launch <best> s (runs: <each>)"; exit status 1 when the window never showed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
varnex=${VARNEX_WINDOW_PROGRAM:-$root/build/app/varnex}
repeat=3
if [[ ${1:-} == --repeat ]]; then
    repeat=$2
    shift 2
fi
data=${1:-$root/bench/data/run60.mzML}
[[ -x $varnex ]] || { echo "launch-time: no $varnex (build the GUI first)" >&2; exit 2; }
[[ -r $data ]] || { echo "launch-time: cannot read $data" >&2; exit 2; }

if [[ -z ${VARNEX_LAUNCH_INNER:-} ]]; then
    cat "$data" > /dev/null # warm page cache, as the other benchmarks measure
    export VARNEX_LAUNCH_INNER=1 VARNEX_WINDOW_PROGRAM=$varnex QT_QPA_PLATFORM=xcb
    exec xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24" "$0" --repeat "$repeat" "$data"
fi

# Inside the virtual display from here on. xev reports every top-level window's creation, size and
# mapping as it happens, so nothing polls the display while the build runs.
coproc XEV { exec xev -root -event substructure; }
sleep 0.2 # xev has subscribed

# Reads xev's reports until a window at least 400 pixels wide (the list window, not the 213-pixel
# progress dialog) is mapped; false when xev or the program ends first.
waitForListWindow() {
    local line window
    local -A width=()
    while kill -0 "$1" 2>/dev/null; do
        if ! IFS= read -r -t 0.05 line <&"${XEV[0]}"; then
            continue
        fi
        if [[ $line =~ ^(CreateNotify|ConfigureNotify) ]]; then
            read -r -t 1 line <&"${XEV[0]}" || return 1
            if [[ $line =~ window\ (0x[0-9a-f]+),\ \(-?[0-9]+,-?[0-9]+\),\ width\ ([0-9]+) ]]; then
                width[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
            fi
        elif [[ $line =~ ^MapNotify ]]; then
            read -r -t 1 line <&"${XEV[0]}" || return 1
            if [[ $line =~ window\ (0x[0-9a-f]+) ]]; then
                window=${BASH_REMATCH[1]}
                if ((${width[$window]:-0} >= 400)); then
                    return 0
                fi
            fi
        fi
    done
    return 1
}

best=
runs=()
for ((run = 0; run < repeat; ++run)); do
    scratch=$(mktemp -d)
    mkdir -m 700 "$scratch/runtime"
    # Reports of the run before are not this run's.
    while IFS= read -r -t 0.2 line <&"${XEV[0]}"; do :; done
    start=$(date +%s.%N)
    VARNEX_REGISTRY_FILE="$scratch/registry" VARNEX_RUNTIME_DIR="$scratch/runtime" "$varnex" "$data" \
        > /dev/null 2>&1 &
    pid=$!
    shown=
    if waitForListWindow "$pid"; then
        shown=$(date +%s.%N)
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    rm -rf "$scratch"
    if [[ -z $shown ]]; then
        echo "launch-time: the list window never showed" >&2
        exit 1
    fi
    seconds=$(awk -v a="$start" -v b="$shown" 'BEGIN { printf "%.3f", b - a }')
    runs+=("$seconds")
    if [[ -z $best ]] || awk -v s="$seconds" -v b="$best" 'BEGIN { exit !(s < b) }'; then
        best=$seconds
    fi
done
kill "$XEV_PID" 2>/dev/null || true
echo "launch $best s (runs: ${runs[*]})"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the progress dialog, the precursor list window (whole and filtered), the Filter and Display
# Options dialogs and the About box of Varnex on the bundled sample to PNG files in docs/, then the host
# display after a double-click on a precursor (host-display.png) and its chromatogram display with the
# precursor's XIC (host-xic.png), on a virtual X display (Xvfb), with a private settings store and
# runtime directory (where the host display listens).
# Usage: tools/screenshots.sh [data-set] [output-directory]   (defaults: data/sample.mzML, docs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEX_BUILD_DIR:-$root/build}
data=${1:-}
out=${2:-$root/docs}
if [[ -z $data ]]; then
    # Relative, so that the pictures show the data set as the README's commands name it.
    cd "$root"
    data=data/sample.mzML
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target varnex-screenshots >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime"
export VARNEX_REGISTRY_FILE="$scratch/registry"
export VARNEX_RUNTIME_DIR="$scratch/runtime"
export QT_QPA_PLATFORM=xcb
xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24 -dpi 96" \
    "$build/app/varnex-screenshots" "$data" "$out"

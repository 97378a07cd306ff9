#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Varnex and runs it on the bundled sample data set. With a display, the host display and the
# precursor list window open side by side (double-click a row to see that precursor); without one,
# the precursor list is printed as a table.
# Usage: tools/run-sample.sh [data-set]   (default: data/sample.mzML)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNEX_BUILD_DIR:-$root/build}
data=${1:-$root/data/sample.mzML}
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target varnex varnex-host varnex-list

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: printing the precursor list of $data" >&2
    exec "$build/cli/varnex-list" --sort 0 "$data"
fi

"$build/host/varnex-host" &
host_pid=$!
trap 'kill $host_pid 2>/dev/null || true' EXIT
"$build/app/varnex" "$data"

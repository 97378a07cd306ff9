#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the installed programs with a Debian package build's flags and packs them into a .deb with CPack.
# Usage: tools/make-deb.sh [build-dir]   (default build-deb; the package is left in the build directory)
# A build directory configured the same way (-DVARNEX_DEBIAN_FLAGS=ON, RelWithDebInfo), such as CI's test
# build, is reused as it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-deb}
"$root/tools/install-deps.sh" --packaging
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_DEBIAN_FLAGS=ON \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds: the tests and benchmarks are tools/run-tests.sh's.
cmake --build "$build" -j"$(nproc)" --target varnex varnex-host varnex-list varnex-send varnex_man_pages \
    varnex_package_docs
(cd "$build" && rm -f varnex_*.deb && cpack -G DEB >/dev/null)
ls "$build"/varnex_*.deb

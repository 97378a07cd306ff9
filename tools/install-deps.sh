#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages Varnex needs to build, test and run, skipping those already present.
# With --packaging also those that build, check and try out the Debian package (tools/make-deb.sh, CI).
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config git python3 clang-format clang-tidy
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
    libpugixml-dev zlib1g-dev libdeflate-dev libmsnumpress-dev libqcustomplot-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth fonts-dejavu-core x11-utils
    help2man appstream desktop-file-utils shared-mime-info
)
if [ "${1:-}" = --packaging ]; then
    packages+=(dpkg-dev file lintian xdg-utils libfile-mimeinfo-perl snakemake)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

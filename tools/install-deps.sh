#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Corvanta need, and any packages named as
# arguments (bench/run.sh adds its peers); skips apt when all are there.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev
          libxml2-dev libexpat1-dev libmimalloc-dev fonts-crosextra-carlito clang-format clang-tidy time python3 python3-lxml
          ccache lld)
# The manual pages (scdoc: a small C program, where pandoc would bring a Haskell runtime), the Debian package
# (dpkg-dev and file for its Depends) and its checks.
# The fuzz targets: clang with libFuzzer (libclang-rt-14-dev, only recommended by clang and so left out by
# --no-install-recommends) and llvm-symbolizer for readable stacks.
packages+=(clang libclang-rt-14-dev llvm)
packages+=(scdoc dpkg-dev file man-db lintian desktop-file-utils appstream "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

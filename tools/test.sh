#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (plain, and under ASan + UBSan), and builds and
# checks the Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --workflow --preset dev
cmake --workflow --preset asan-ubsan
tools/check-package.sh

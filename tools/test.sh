#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (plain, and under ASan + UBSan), checks the plain
# build's formatting and runs clang-tidy on it, fuzzes each fuzz target for half a minute, and builds and checks the
# Debian package.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --workflow --preset dev
cmake --build --preset dev --target format-check tidy
cmake --workflow --preset asan-ubsan
tools/fuzz.sh 30
tools/check-package.sh

#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: plain, and under ASan + UBSan. The plain build
# is also checked for formatting and with clang-tidy.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --workflow --preset dev
cmake --build --preset dev --target format-check tidy
cmake --workflow --preset asan-ubsan

#!/usr/bin/env bash
# Installs what is missing, builds an optimised Corvanta and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --workflow --preset release
if [ -x build/release/bin/corvanta ]; then
    exec build/release/bin/corvanta "$@"
else
    exec build/release/bin/corvanta-join --help
fi

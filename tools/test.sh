#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the plain build (checked for formatting and with
# clang-tidy), the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded code's tests under
# ThreadSanitizer, half a minute of fuzzing per fuzz target, and the Debian package with its checks. Prints how long
# each stage took at the end, also when one fails. ccache and the build folders make a second run short.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=()
started=$SECONDS
report() {
    local status=$?
    echo
    echo "Stage times:"
    for line in "${stages[@]}"; do echo "  $line"; done
    printf '  %-28s %4d s\n' total $((SECONDS - started))
    exit $status
}
trap report EXIT
stage() {
    local name=$1
    shift
    local from=$SECONDS
    echo "== $name"
    stages+=("$(printf '%-28s' "$name") (failed)")
    "$@"
    stages[-1]=$(printf '%-28s %4d s' "$name" $((SECONDS - from)))
}

stage "install" tools/install-deps.sh
stage "dev: build and test" cmake --workflow --preset dev
stage "format and tidy" cmake --build --preset dev --target format-check tidy
stage "asan-ubsan: build and test" cmake --workflow --preset asan-ubsan
stage "tsan: build and test" cmake --workflow --preset tsan
stage "fuzz: build and run" tools/fuzz.sh 30
stage "package" tools/check-package.sh

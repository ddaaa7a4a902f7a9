#!/usr/bin/env bash
# Usage: tools/fuzz.sh SECONDS
# Builds the fuzz targets (the fuzz preset: clang, libFuzzer, ASan and UBSan) and runs each for SECONDS seconds on a
# scratch copy of its seed corpus, so the repository's corpus never grows by accident. Prints libFuzzer's closing
# line per target; exits non-zero when any target found a fault, whose input is kept in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: tools/fuzz.sh SECONDS}
tools/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d)
# The targets' input files and working folders go to memory where there is /dev/shm.
if [ -d /dev/shm ]; then
    export CORVANTA_FUZZ_SCRATCH=$(mktemp -d /dev/shm/corvanta-fuzz.XXXXXX)
else
    export CORVANTA_FUZZ_SCRATCH=$scratch
fi
trap 'rm -rf "$scratch" "$CORVANTA_FUZZ_SCRATCH"' EXIT
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
status=0
for target in reader merge append combine; do
    cp -r "tests/fuzz/corpus/$target" "$scratch/$target"
    # Combine's inputs are cut as Merge's are: it reads Merge's seeds too.
    more_seeds=()
    [ "$target" != combine ] || more_seeds=(tests/fuzz/corpus/merge)
    findings=build/fuzz/findings/$target
    mkdir -p "$findings"
    log=$scratch/$target.log
    if "build/fuzz/bin/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
        -dict=tests/fuzz/xml.dict -artifact_prefix="$findings/" "$scratch/$target" "tests/fuzz/regressions/$target" "${more_seeds[@]}" \
        >"$log" 2>&1; then
        echo "fuzz_$target: $(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1)"
    else
        status=1
        echo "fuzz_$target: FINDING (input in $findings/)"
        tail -n 60 "$log"
    fi
done
exit $status

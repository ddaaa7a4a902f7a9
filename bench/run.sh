#!/usr/bin/env bash
# Times corvanta-join against its peers on generated inputs: Merge against the lxml script, Append against cat.
# Run by hand on a quiet machine, never in CI. bench/README.md explains the figures.
set -euo pipefail
export LC_ALL=C

usage() {
    cat <<'EOF'
Usage: bench/run.sh [--scale S] [--only DATASET]... [--runs N] [--peer PATH] [--no-build] [--keep]

  --scale S       size factor of the generated inputs (default 1: the full datasets)
  --only DATASET  many-small, few-large or namespaces (repeatable; default all three)
  --runs N        timed runs per tool, the median is shown (default 3)
  --peer PATH     the lxml Merge script (default ../shared/bench/ref_merge_lxml.py from the repository root)
  --join PATH     the corvanta-join to time (default build/release/bin/corvanta-join)
  --no-build      use the built corvanta-join as it is instead of building the release preset first
  --keep          keep the joined outputs in bench/out/ (they are removed after their checks otherwise)
EOF
}

scale=1
runs=3
build=1
keep=0
only=()
peer=../shared/bench/ref_merge_lxml.py
join=build/release/bin/corvanta-join
python=${PYTHON:-/usr/bin/python3} # Debian's interpreter: python3-lxml is installed for it

while [ $# -gt 0 ]; do
    case $1 in
        --scale) scale=${2:?--scale needs a value}; shift 2 ;;
        --only) only+=(--only "${2:?--only needs a dataset}"); shift 2 ;;
        --runs) runs=${2:?--runs needs a value}; shift 2 ;;
        --peer) peer=$(realpath -m -- "${2:?--peer needs a path}"); shift 2 ;;
        --join) join=$(realpath -m -- "${2:?--join needs a path}"); shift 2 ;;
        --no-build) build=0; shift ;;
        --keep) keep=1; shift ;;
        -h | --help) usage; exit 0 ;;
        *) echo "run.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: --runs needs a positive whole number" >&2; exit 2; }

cd "$(dirname "$0")/.."
out=bench/out
mkdir -p "$out"

[ -f "$peer" ] || { echo "run.sh: lxml peer not found at $(realpath -m "$peer"); give --peer PATH" >&2; exit 2; }
"$python" -c 'import lxml.etree' 2>/dev/null ||
    { echo "run.sh: $python cannot import lxml (apt-get install python3-lxml, or set PYTHON)" >&2; exit 2; }

if [ "$build" = 1 ]; then
    echo "Building the release preset (log in $out/build.log)"
    cmake --workflow --preset release >"$out/build.log" 2>&1 || { tail -n 30 "$out/build.log" >&2; exit 1; }
fi
[ -x "$join" ] || { echo "run.sh: $join is missing; build the release preset" >&2; exit 1; }

"$python" bench/generate.py --scale "$scale" "${only[@]}"
if [ ${#only[@]} -eq 0 ]; then
    datasets=(many-small few-large namespaces)
else
    datasets=()
    for ((i = 1; i < ${#only[@]}; i += 2)); do datasets+=("${only[i]}"); done
fi

# measure STDOUT CMD...: runs CMD $runs times (fewer when it fails) with its standard output in STDOUT and its
# standard error in $out/stderr.txt. Sets rc (the last exit status), secs and peak_kb (medians).
# Wall time comes from the shell's microsecond clock around /usr/bin/time, whose own %e has only 10 ms steps;
# peak memory is the %M (maximum resident set, KB) of /usr/bin/time.
measure() {
    local stdout=$1
    shift
    local times=() peaks=() start end
    for ((r = 0; r < runs; r++)); do
        start=${EPOCHREALTIME/./}
        rc=0
        /usr/bin/time -f "%M" -o "$out/time.txt" "$@" >"$stdout" 2>"$out/stderr.txt" || rc=$?
        end=${EPOCHREALTIME/./}
        times+=($((end - start)))
        peaks+=("$(tail -n 1 "$out/time.txt")")
        [ "$rc" = 0 ] || break
    done
    secs=$(median "${times[@]}" | awk '{ printf "%.3f", $1 / 1e6 }')
    peak_kb=$(median "${peaks[@]}")
}

median() {
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# failure OUTPUT: why a run that produced OUTPUT cannot be trusted, or nothing.
failure() {
    if [ "$rc" != 0 ]; then
        echo "exit $rc: $(head -n 1 "$out/stderr.txt")"
    elif [ ! -s "$1" ]; then
        echo "empty output"
    fi
}

printf '%-11s %-6s %-9s %5s %9s %8s %8s %8s %7s %6s  %s\n' \
    dataset mode tool files "input MB" seconds "MB/s" "peak MB" "time/p" "mem/p" check
failed=0

# row DATASET MODE TOOL PROBLEM [PEER_SECS PEER_KB]: one line of the table from the last measure.
row() {
    local problem=$4 check=ok ratios="- -" ok=1
    if [ -n "$problem" ]; then
        check="FAIL: $problem"
        failed=1
        ok=0
    elif [ $# -ge 6 ]; then
        ratios=$(awk -v s="$secs" -v k="$peak_kb" -v ps="$5" -v pk="$6" \
            'BEGIN { printf "%.2f %.2f", (ps > 0 ? s / ps : 0), (pk > 0 ? k / pk : 0) }')
    fi
    read -r time_ratio mem_ratio <<<"$ratios"
    awk -v d="$1" -v m="$2" -v t="$3" -v n="${#files[@]}" -v b="$input_bytes" -v s="$secs" -v k="$peak_kb" \
        -v tr="$time_ratio" -v mr="$mem_ratio" -v c="$check" -v ok="$ok" 'BEGIN {
            # A failed run gets no throughput: a join that did nothing must not look fast.
            rate = (ok && s > 0) ? sprintf("%.1f", b / 1e6 / s) : "-"
            printf "%-11s %-6s %-9s %5d %9.1f %8.3f %8s %8.1f %7s %6s  %s\n",
                d, m, t, n, b / 1e6, s, rate, k * 1024 / 1e6, tr, mr, c }'
}

for dataset in "${datasets[@]}"; do
    files=(bench/data/"$dataset"/*.xml)
    input_bytes=$(stat -c %s "${files[@]}" | awk '{ s += $1 } END { print s }')
    cat "${files[@]}" >/dev/null # every tool meets the inputs in the page cache
    rm -f "$out/$dataset"-*.xml  # a stale output must not pass for a new one

    ours="$out/$dataset-merge-corvanta.xml"
    theirs="$out/$dataset-merge-lxml.xml"
    measure /dev/null "$python" "$peer" -o "$theirs" "${files[@]}"
    problem=$(failure "$theirs")
    if [ -z "$problem" ] && ! peer_summary=$("$python" bench/second_level.py "$theirs" 2>&1); then
        problem="output is not XML: $peer_summary"
    fi
    peer_ok=$([ -z "$problem" ] && echo 1 || echo 0)
    peer_secs=$secs peer_kb=$peak_kb
    row "$dataset" merge lxml "$problem"

    measure "$out/stdout.txt" "$join" --merge -o "$ours" "${files[@]}"
    problem=$(failure "$ours")
    if [ -z "$problem" ]; then
        if ! summary=$("$python" bench/second_level.py "$ours" 2>&1); then
            problem="output is not XML: $summary"
        elif [ "$peer_ok" = 0 ]; then
            problem="nothing to compare with, the peer failed"
        elif [ "${summary%% *}" != "${peer_summary%% *}" ]; then
            problem="${summary%% *} second-level elements, the peer has ${peer_summary%% *}"
        elif [ "$summary" != "$peer_summary" ]; then
            problem="second-level elements differ from the peer's in name, namespace or place"
        fi
    fi
    row "$dataset" merge corvanta "$problem" "$peer_secs" "$peer_kb"

    ours="$out/$dataset-append-corvanta.xml"
    theirs="$out/$dataset-append-cat.xml"
    measure "$theirs" cat "${files[@]}"
    problem=$(failure "$theirs")
    cat_ok=$([ -z "$problem" ] && echo 1 || echo 0)
    peer_secs=$secs peer_kb=$peak_kb
    row "$dataset" append cat "$problem"

    measure "$out/stdout.txt" "$join" --append -o "$ours" "${files[@]}"
    problem=$(failure "$ours")
    if [ -z "$problem" ]; then
        if [ "$cat_ok" = 0 ]; then
            problem="nothing to compare with, cat failed"
        elif ! cmp -s "$ours" "$theirs"; then
            problem="output differs from cat's"
        fi
    fi
    row "$dataset" append corvanta "$problem" "$peer_secs" "$peer_kb"

    [ "$keep" = 1 ] || rm -f "$out/$dataset"-*.xml
done

echo
echo "time/p and mem/p: corvanta-join's median wall time and peak memory divided by the peer's on the line above"
echo "(the lxml script for merge, cat for append); below 1 is faster or smaller. MB = 10^6 bytes."
if [ "$failed" = 1 ]; then
    echo "Some checks FAILED: their figures are not comparable."
    exit 1
fi

#!/usr/bin/env bash
# Times corvanta-join against its peers on generated inputs: Merge against an lxml script, Expat's and libxml2's
# parsers; Combine against Expat's parser; Append against cat. Run by hand on a quiet machine, never in CI. bench/README.md explains the figures.
set -euo pipefail
export LC_ALL=C

usage() {
    cat <<'EOF'
Usage: bench/run.sh [--scale S] [--only DATASET]... [--runs N] [--join PATH] [--no-build] [--keep]

  --scale S       size factor of the generated inputs (default 1: the full datasets)
  --only DATASET  many-small, few-large, records, namespaces, declarations or large-text (repeatable; default
                  all six)
  --runs N        timed runs per tool, the median is shown (default 3)
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
join=build/release/bin/corvanta-join
python=${PYTHON:-/usr/bin/python3} # Debian's interpreter: python3-lxml is installed for it

while [ $# -gt 0 ]; do
    case $1 in
        --scale) scale=${2:?--scale needs a value}; shift 2 ;;
        --only) only+=(--only "${2:?--only needs a dataset}"); shift 2 ;;
        --runs) runs=${2:?--runs needs a value}; shift 2 ;;
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

# The build's packages plus the peers: time (peak memory), python3-lxml, expat (xmlwf), libxml2-utils (xmllint).
tools/install-deps.sh expat libxml2-utils
"$python" -c 'import lxml.etree' 2>/dev/null ||
    { echo "run.sh: $python cannot import lxml (apt-get install python3-lxml, or set PYTHON)" >&2; exit 2; }

if [ "$build" = 1 ]; then
    echo "Building the release preset (log in $out/build.log)"
    cmake --workflow --preset release >"$out/build.log" 2>&1 || { tail -n 30 "$out/build.log" >&2; exit 1; }
fi
[ -x "$join" ] || { echo "run.sh: $join is missing; build the release preset" >&2; exit 1; }

"$python" bench/generate.py --scale "$scale" "${only[@]}"
if [ ${#only[@]} -eq 0 ]; then
    datasets=(many-small few-large records namespaces declarations large-text)
else
    datasets=()
    for ((i = 1; i < ${#only[@]}; i += 2)); do datasets+=("${only[i]}"); done
fi

# measure STDOUT CMD...: runs CMD $runs times (fewer when it fails) with its standard output in STDOUT and its
# standard error in $out/stderr.txt. Sets rc (the last exit status), secs and peak_kb (medians).
# Wall time comes from the shell's microsecond clock around /usr/bin/time, whose own %e has only 10 ms steps;
# peak memory is the %M (maximum resident set, KB) of /usr/bin/time: the largest of the command and its children.
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

# failure OUTPUT: why a run that should have written OUTPUT cannot be trusted, or nothing.
failure() {
    if [ "$rc" != 0 ]; then
        echo "exit $rc: $(head -n 1 "$out/stderr.txt")"
    elif [ ! -s "$1" ]; then
        echo "empty output"
    fi
}

# quiet_failure STDOUT: the same for a checker that writes nothing when every input is well-formed.
quiet_failure() {
    if [ "$rc" != 0 ]; then
        echo "exit $rc: $(head -n 1 "$1" "$out/stderr.txt" | grep -v '^==>' | grep -m 1 .)"
    elif [ -s "$1" ] || [ -s "$out/stderr.txt" ]; then
        echo "reported: $(cat "$1" "$out/stderr.txt" | head -n 1)"
    fi
}

printf '%-11s %-7s %-12s %5s %9s %8s %8s %8s  %s\n' dataset mode tool files "input MB" seconds "MB/s" "peak MB" check
failed=0
declare -A seconds_of peak_of

# row DATASET MODE TOOL PROBLEM: one line of the table from the last measure; a sound run is kept for the ratios.
row() {
    local check=ok ok=1
    if [ -n "$4" ]; then
        check="FAIL: $4"
        failed=1
        ok=0
    else
        seconds_of[$1/$2/$3]=$secs
        peak_of[$1/$2/$3]=$peak_kb
    fi
    awk -v d="$1" -v m="$2" -v t="$3" -v n="${#files[@]}" -v b="$input_bytes" -v s="$secs" -v k="$peak_kb" \
        -v c="$check" -v ok="$ok" 'BEGIN {
            # A failed run gets no throughput: a join that did nothing must not look fast.
            rate = (ok && s > 0) ? sprintf("%.1f", b / 1e6 / s) : "-"
            printf "%-11s %-7s %-12s %5d %9.1f %8.3f %8s %8.1f  %s\n", d, m, t, n, b / 1e6, s, rate, k * 1024 / 1e6, c }'
}

merge_rows() {
    local dataset=$1 ours="$out/$1-merge-corvanta.xml" theirs="$out/$1-merge-lxml.xml" problem peer_summary summary
    measure /dev/null "$python" bench/merge_lxml.py -o "$theirs" "${files[@]}"
    problem=$(failure "$theirs")
    if [ -z "$problem" ] && ! peer_summary=$("$python" bench/second_level.py "$theirs" 2>&1); then
        problem="output is not XML: $peer_summary"
    fi
    local peer_ok=$([ -z "$problem" ] && echo 1 || echo 0)
    row "$dataset" merge lxml "$problem"

    measure "$out/stdout.txt" xmlwf "${files[@]}"
    row "$dataset" merge xmlwf "$(quiet_failure "$out/stdout.txt")"
    measure "$out/stdout.txt" xmllint --noout "${files[@]}"
    row "$dataset" merge "xmllint" "$(quiet_failure "$out/stdout.txt")"

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
    row "$dataset" merge corvanta "$problem"
}

# top_level_count FILE...: how many elements the files hold directly under their roots, together.
top_level_count() {
    "$python" - "$@" <<'PY'
import sys
from lxml import etree
total = 0
for name in sys.argv[1:]:
    depth = 0
    for event, _ in etree.iterparse(name, events=("start", "end"), huge_tree=True):
        depth += 1 if event == "start" else -1
        total += event == "end" and depth == 1
print(total)
PY
}

# Combine: the records of every input under the first one's root; the result must hold them all.
combine_rows() {
    local dataset=$1 ours="$out/$1-combine-corvanta.xml" problem
    measure "$out/stdout.txt" xmlwf "${files[@]}"
    row "$dataset" combine xmlwf "$(quiet_failure "$out/stdout.txt")"

    measure "$out/stdout.txt" "$join" --combine -o "$ours" "${files[@]}"
    problem=$(failure "$ours")
    if [ -z "$problem" ]; then
        local want got
        want=$(top_level_count "${files[@]}")
        if ! got=$(top_level_count "$ours" 2>&1); then
            problem="output is not XML: $got"
        elif [ "$got" != "$want" ]; then
            problem="$got top-level elements, the inputs have $want"
        fi
    fi
    row "$dataset" combine corvanta "$problem"
}

# same_as_cat OUTPUT: why OUTPUT of a sound run is not cat's, or nothing (the inputs are UTF-8, which Append passes
# through unchanged).
same_as_cat() {
    if [ "$cat_ok" = 0 ]; then
        echo "nothing to compare with, cat failed"
    elif ! cmp -s "$1" "$theirs"; then
        echo "output differs from cat's"
    fi
}

append_rows() {
    local dataset=$1 ours="$out/$1-append-corvanta.xml" problem
    theirs="$out/$1-append-cat.xml"
    measure "$theirs" cat "${files[@]}"
    problem=$(failure "$theirs")
    cat_ok=$([ -z "$problem" ] && echo 1 || echo 0)
    row "$dataset" append "cat >F" "$problem"

    # sync FILE: fsync of that file only, as a save that survives a power cut needs.
    measure /dev/null sh -c 'out=$1; shift; cat "$@" >"$out" && sync "$out"' sh "$out/$dataset-append-sync.xml" \
        "${files[@]}"
    problem=$(failure "$out/$dataset-append-sync.xml")
    row "$dataset" append "cat+sync" "$problem"

    measure "$ours" "$join" --append "${files[@]}"
    problem=$(failure "$ours")
    [ -n "$problem" ] || problem=$(same_as_cat "$ours")
    row "$dataset" append "corvanta >F" "$problem"

    rm -f "$ours"
    measure "$out/stdout.txt" "$join" --append -o "$ours" "${files[@]}"
    problem=$(failure "$ours")
    [ -n "$problem" ] || problem=$(same_as_cat "$ours")
    row "$dataset" append "corvanta -o" "$problem"

    # One document instead of many: it must be well-formed (xmllint's streaming reader, so that gigabytes fit).
    local wrapped="$out/$dataset-append-wrapped.xml"
    measure "$out/stdout.txt" "$join" --append --wrap files -o "$wrapped" "${files[@]}"
    problem=$(failure "$wrapped")
    if [ -z "$problem" ] && ! xmllint --stream --noout --huge "$wrapped" 2>"$out/xmllint.txt"; then
        problem="output is not well-formed: $(head -n 1 "$out/xmllint.txt")"
    fi
    row "$dataset" append "wrap -o" "$problem"
}

for dataset in "${datasets[@]}"; do
    files=(bench/data/"$dataset"/*.xml)
    input_bytes=$(stat -c %s "${files[@]}" | awk '{ s += $1 } END { print s }')
    cat "${files[@]}" >/dev/null # every tool meets the inputs in the page cache
    rm -f "$out/$dataset"-*.xml  # a stale output must not pass for a new one
    # large-text is Append's: merging it would only measure memory. records is Combine's, as is many-small.
    case $dataset in
        records) combine_rows "$dataset" ;;
        large-text) append_rows "$dataset" ;;
        many-small) merge_rows "$dataset"; combine_rows "$dataset"; append_rows "$dataset" ;;
        *) merge_rows "$dataset"; append_rows "$dataset" ;;
    esac
    [ "$keep" = 1 ] || rm -f "$out/$dataset"-*.xml
done

# ratio DATASET MODE TOOL PEER LIMIT [memory]: one line of the targets (time, or peak memory), from sound runs only.
ratio() {
    local -n of=seconds_of
    [ "${6:-}" != memory ] || local -n of=peak_of
    local mine=${of[$1/$2/$3]:-} theirs=${of[$1/$2/$4]:-}
    [ -n "$mine" ] && [ -n "$theirs" ] || return 0
    awk -v d="$1" -v m="$2" -v w="${6:-time}" -v r="$3 / $4" -v a="$mine" -v b="$theirs" -v limit="$5" 'BEGIN {
        v = b > 0 ? a / b : 0
        printf "%-11s %-7s %-6s %-24s %6.2f  at most %-5s %s\n", d, m, w, r, v, limit, (v <= limit ? "met" : "MISSED") }'
}

echo
echo "Targets: corvanta-join's median time or peak memory divided by its peer's (below 1: faster or smaller)."
for dataset in "${datasets[@]}"; do
    ratio "$dataset" merge corvanta lxml 0.5
    ratio "$dataset" merge corvanta lxml "$([ "$dataset" = few-large ] && echo 0.5 || echo 1)" memory
    if [ "$dataset" = few-large ]; then
        ratio "$dataset" merge corvanta xmlwf 2
        ratio "$dataset" merge corvanta xmllint 0.67
    fi
    ratio "$dataset" combine corvanta xmlwf 1
    peak=${peak_of[$dataset/combine/corvanta]:-}
    [ -z "$peak" ] || awk -v d="$dataset" -v k="$peak" 'BEGIN { v = k * 1024 / 1e6
        printf "%-11s %-7s %-6s %-24s %6.1f  at most %-5s %s\n", d, "combine", "MB", "corvanta peak memory", v, 64,
            (v <= 64 ? "met" : "MISSED") }'
    ratio "$dataset" append "corvanta >F" "cat >F" 2
    ratio "$dataset" append "corvanta -o" "cat+sync" 1.5
    ratio "$dataset" append "wrap -o" "corvanta -o" 1.1
    peak=${peak_of[$dataset/append/corvanta -o]:-}
    [ -z "$peak" ] || awk -v d="$dataset" -v k="$peak" 'BEGIN { v = k * 1024 / 1e6
        printf "%-11s %-7s %-6s %-24s %6.1f  at most %-5s %s\n", d, "append", "MB", "corvanta -o peak memory", v, 64,
            (v <= 64 ? "met" : "MISSED") }'
done
echo "MB = 10^6 bytes."
if [ "$failed" = 1 ]; then
    echo "Some checks FAILED: their figures are not comparable."
    exit 1
fi

#!/usr/bin/env bash
# Mutation check of the test suite. Each mutant of tests/mutants.txt (a one-line fault in a
# source file) is planted in a copy of the tree, one at a time; the copy is rebuilt and the
# suite runs against it. A mutant that makes a test fail is killed; one that passes the
# whole suite survived, which points at a fault no test would notice.
#
#   scripts/mutate.sh [-t SECONDS] [-j JOBS] [-n] [-c] [-x REGEX] [SELECTION...]
#
#   SELECTION  mutant numbers or ranges (3 7-9), or parts of a file name (file_record,
#              src/app/); every mutant without one
#   -t         time limit of one suite run against a mutant (default: three times the
#              unmutated run, at least 120 s); a suite that runs over it kills the mutant
#   -j         parallel compile and test jobs (default 2)
#   -n         skip the unmutated run that checks the copy builds and passes first
#   -c         only check that every pattern is found, without building anything
#   -x         leave out the tests whose names match (does anything else catch a mutant?)
#
# The copy lives in build-mutate/tree (the worktree's files, compared by content) and builds
# in build-mutate/tree/build with a ccache of its own (build-mutate/ccache), so putting a
# file back after its mutant costs no compile. Each mutant runs
# the tests of its own folder first (test label = the folder under src/), then the rest.
# Logs: build-mutate/logs/. Prints one line per mutant and the score.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list=${MUTANTS_FILE:-$root/tests/mutants.txt}  # another list for a trial
work=$root/build-mutate
tree=$work/tree
build=$tree/build
logs=$work/logs
sep=' ||| '

limit=
jobs=2
baseline=1
check_only=0
exclude=()
selection=()
while [ $# -gt 0 ]; do
    case $1 in
        -t) limit=$2; shift 2 ;;
        -j) jobs=$2; shift 2 ;;
        -n) baseline=0; shift ;;
        -c) check_only=1; shift ;;
        -x) exclude=(-E "$2"); shift 2 ;;
        -h | --help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) selection+=("$1"); shift ;;
    esac
done

export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")} CCACHE_NOHASHDIR=1
# A cache of its own: a shared cache once handed the copy an object built from another
# worktree's version of a header (stored while that header changed under the compiler).
export CCACHE_DIR=$work/ccache
export QT_QPA_PLATFORM=offscreen

# --- the mutant list: "file[#n] ||| pattern ||| replacement ||| reason" ----------------------
files=() patterns=() replacements=() reasons=()
while IFS= read -r line || [ -n "$line" ]; do
    case $line in '' | '#'*) continue ;; esac
    rest=$line
    fields=()
    while [[ $rest == *"$sep"* ]]; do
        fields+=("${rest%%"$sep"*}")
        rest=${rest#*"$sep"}
    done
    fields+=("$rest")
    if [ ${#fields[@]} -ne 4 ]; then
        echo "mutants.txt: not four fields: $line" >&2
        exit 2
    fi
    files+=("${fields[0]}") patterns+=("${fields[1]}") replacements+=("${fields[2]}")
    reasons+=("${fields[3]}")
done <"$list"
total=${#files[@]}

selected() {  # mutant number → whether the selection takes it
    local n=$1 item
    [ ${#selection[@]} -eq 0 ] && return 0
    for item in "${selection[@]}"; do
        if [[ $item =~ ^[0-9]+$ ]]; then
            [ "$n" -eq "$item" ] && return 0
        elif [[ $item =~ ^([0-9]+)-([0-9]+)$ ]]; then
            [ "$n" -ge "${BASH_REMATCH[1]}" ] && [ "$n" -le "${BASH_REMATCH[2]}" ] && return 0
        elif [[ ${files[n - 1]} == *"$item"* ]]; then
            return 0
        fi
    done
    return 1
}

# --- the copy ---------------------------------------------------------------------------------
# Only files whose content differs are copied (with a new time, so ninja rebuilds them); a
# copy that kept its old time could hide a mutant's object from the rebuild.
sync_tree() {
    mkdir -p "$tree"
    local wanted=$work/files.txt file
    (cd "$root" && git ls-files --cached --others --exclude-standard) | sort -u >"$wanted"
    while IFS= read -r file; do
        [ -f "$root/$file" ] || continue
        if ! cmp -s "$root/$file" "$tree/$file"; then
            mkdir -p "$(dirname "$tree/$file")"
            cp "$root/$file" "$tree/$file"
        fi
    done <"$wanted"
    # Files gone from the worktree go from the copy too (the build folder stays).
    (cd "$tree" && find . -path ./build -prune -o -type f -print | sed 's|^\./||') |
        sort | comm -23 - "$wanted" | while IFS= read -r file; do rm -f "$tree/$file"; done
}

# Builds the given targets (everything without one), appending to the log.
build_tree() {
    local log=$1
    shift
    if [ ! -f "$build/build.ninja" ]; then
        cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DMIRKA_BUILD_BENCH=OFF >"$logs/cmake.log" 2>&1 || return 1
    fi
    ninja -C "$build" -j "$jobs" "$@" >>"$log" 2>&1
}

# Runs ctest with the given filter under the time limit; sets `failed` to the first failing
# test, "time limit" when the run was cut, or leaves it empty when everything passed.
run_tests() {
    local log=$1
    shift
    rm -f "$build/Testing/Temporary/LastTestsFailed.log"
    # A test that fails once and then passes is taken as flaky, not as caught.
    timeout -k 10 "$limit" ctest --test-dir "$build" -j "$jobs" --stop-on-failure \
        --repeat until-pass:2 --output-on-failure "${exclude[@]}" "$@" >>"$log" 2>&1
    local status=$?
    [ $status -eq 0 ] && return 0
    if [ $status -eq 124 ] || [ $status -eq 137 ]; then
        failed="time limit (${limit} s)"
    elif [ -s "$build/Testing/Temporary/LastTestsFailed.log" ]; then
        failed=$(head -n 1 "$build/Testing/Temporary/LastTestsFailed.log" | cut -d: -f2-)
    elif grep -q "No tests were found" "$log"; then
        return 0  # a folder without tests of its own
    else
        failed="ctest status $status"
    fi
    return 1
}

# The test label of a source file: its folder under src/.
label_of() {
    local file=$1
    file=${file#src/}
    echo "${file%%/*}"
}

# Plants one mutant into the copy: the pattern's first occurrence on the one line that holds
# it (or on the n-th such line for "file#n"). Exit 3: not found; 4: on more than one line.
plant() {
    local file=$1 nth=$2 pattern=$3 replacement=$4 from=${5:-$tree}
    MUT_PAT=$pattern MUT_REP=$replacement MUT_NTH=$nth awk '
        BEGIN { pat = ENVIRON["MUT_PAT"]; rep = ENVIRON["MUT_REP"]; nth = ENVIRON["MUT_NTH"] + 0 }
        { lines[NR] = $0; if (index($0, pat) > 0) hits[++found] = NR }
        END {
            if (found == 0 || nth > found) exit 3
            if (nth == 0 && found > 1) exit 4
            target = hits[nth > 0 ? nth : 1]
            for (i = 1; i <= NR; i++) {
                line = lines[i]
                if (i == target) {
                    at = index(line, pat)
                    line = substr(line, 1, at - 1) rep substr(line, at + length(pat))
                }
                print line
            }
        }' "$from/$file" >"$work/planted.$$"
    local status=$?
    if [ $status -ne 0 ] || [ "$from" != "$tree" ]; then
        rm -f "$work/planted.$$"
        return $status
    fi
    mv "$work/planted.$$" "$tree/$file"
}

restore() {
    cp "$root/$1" "$tree/$1"  # a fresh time: the next build compiles the original again
}

# Prints the error line of a mutant whose file or pattern is not there; false then.
check_mutant() {
    local tag=$1 file=$2 nth=$3 pattern=$4 replacement=$5 from=$6
    if [ ! -f "$from/$file" ]; then
        echo "$tag ERROR file not found: $file  -- re-point this mutant"
        return 1
    fi
    plant "$file" "$nth" "$pattern" "$replacement" "$from"
    case $? in
        0) return 0 ;;
        4) echo "$tag ERROR pattern on more than one line of $file (add #n to the file): $pattern" ;;
        *) echo "$tag ERROR pattern not found in $file  -- re-point this mutant: $pattern" ;;
    esac
    return 1
}

# --- run ----------------------------------------------------------------------------------------
mkdir -p "$logs"
cd "$root" || exit 2
if [ $check_only -eq 1 ]; then
    errors=0 checked=0
    for ((i = 1; i <= total; i++)); do
        selected "$i" || continue
        checked=$((checked + 1))
        entry=${files[i - 1]}
        nth=0
        [[ $entry == *"#"* ]] && nth=${entry##*#}
        check_mutant "$(printf '[%2d/%d]' "$i" "$total")" "${entry%%#*}" "$nth" \
            "${patterns[i - 1]}" "${replacements[i - 1]}" "$root" || errors=$((errors + 1))
    done
    echo "Checked $checked mutants: $errors with errors"
    [ $errors -eq 0 ]
    exit
fi
echo "Copying the tree to $tree"
sync_tree

if [ $baseline -eq 1 ] || [ -z "$limit" ]; then
    echo "Building and running the unmutated copy"
    if ! build_tree "$logs/baseline-build.log"; then
        echo "error: the unmutated copy does not build (see $logs/baseline-build.log)"
        exit 2
    fi
    start=$SECONDS
    failed=
    saved_limit=$limit
    limit=${limit:-3600}
    if ! run_tests "$logs/baseline-tests.log"; then
        echo "error: the unmutated suite fails ($failed; see $logs/baseline-tests.log)"
        exit 2
    fi
    took=$((SECONDS - start))
    limit=$saved_limit
    if [ -z "$limit" ]; then
        limit=$((took * 3))
        [ $limit -lt 120 ] && limit=120
    fi
    echo "Unmutated suite: ${took} s; time limit per mutant run: ${limit} s"
fi

killed=0 survived=0 errors=0
survivors=()
for ((i = 1; i <= total; i++)); do
    selected "$i" || continue
    entry=${files[i - 1]}
    file=${entry%%#*}
    nth=0
    [[ $entry == *"#"* ]] && nth=${entry##*#}
    pattern=${patterns[i - 1]}
    reason=${reasons[i - 1]}
    tag=$(printf '[%2d/%d]' "$i" "$total")
    log=$logs/mutant-$i.log
    : >"$log"

    if ! check_mutant "$tag" "$file" "$nth" "$pattern" "${replacements[i - 1]}" "$tree"; then
        errors=$((errors + 1))
        continue
    fi
    start=$SECONDS
    # First the test program of the mutant's own folder alone: most mutants die there, and
    # only the others need the whole build.
    label=$(label_of "$file")
    first=()
    ninja -C "$build" -t query "test_$label" >/dev/null 2>&1 && first=("test_$label")
    failed=
    if build_tree "$log" "${first[@]}"; then
        if run_tests "$log" -L "^${label}\$"; then
            if [ ${#first[@]} -eq 0 ] || build_tree "$log"; then
                run_tests "$log" -LE "^${label}\$"
            else
                failed=build
            fi
        fi
    else
        failed=build
    fi
    restore "$file"
    if [ "$failed" = build ]; then
        echo "$tag ERROR does not build  $file: $reason"
        errors=$((errors + 1))
        continue
    fi
    took=$((SECONDS - start))
    if [ -n "$failed" ]; then
        echo "$tag killed by $failed (${took} s)  $file: $reason"
        killed=$((killed + 1))
    else
        echo "$tag SURVIVED (${took} s)  $file: $reason"
        survived=$((survived + 1))
        survivors+=("$i")
    fi
done

# Leave the copy as the worktree has it.
for ((i = 1; i <= total; i++)); do
    file=${files[i - 1]%%#*}
    [ -f "$root/$file" ] && ! cmp -s "$root/$file" "$tree/$file" && restore "$file"
done

judged=$((killed + survived))
if [ $judged -gt 0 ]; then
    score=$(awk -v k=$killed -v j=$judged 'BEGIN { printf "%.1f", 100 * k / j }')
    echo "Score: $killed of $judged mutants killed ($score %); survived: ${survivors[*]:-none}; errors: $errors"
else
    echo "Score: no mutant judged; errors: $errors"
fi
[ $errors -eq 0 ]

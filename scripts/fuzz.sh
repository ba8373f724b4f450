#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (AddressSanitizer and UndefinedBehaviorSanitizer)
# in build-fuzz and runs each over its seeds and the corpus it has grown so far.
#   scripts/fuzz.sh            a short run: a fixed number of inputs per target (CI)
#   scripts/fuzz.sh 600        about 600 seconds per target instead
# A crash leaves its input in build-fuzz/crashes/<target>/ and fails the script.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
bash scripts/install-locales.sh || true  # the readers are fuzzed in Shift_JIS when it exists

seconds=${1:-}
build=build-fuzz
targets=(link_stream_fuzzer settings_fuzzer gateway_answer_fuzzer gateway_soap_fuzzer
    search_page_fuzzer)
# Inputs per target in the short run; the link and port-mapping targets are the slow ones
# (a connection per input).
declare -A runs=([link_stream_fuzzer]=20000 [settings_fuzzer]=20000
    [gateway_answer_fuzzer]=200000 [gateway_soap_fuzzer]=10000 [search_page_fuzzer]=200000)

echo "=== fuzz build"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMIRKA_SANITIZE=address -DMIRKA_BUILD_FUZZ=ON -DMIRKA_BUILD_TESTS=OFF \
    -DMIRKA_BUILD_BENCH=OFF -DMIRKA_BUILD_GUI=OFF >"$build.cmake.log" 2>&1 ||
    { cat "$build.cmake.log"; exit 1; }
ninja -C "$build" -j "$(nproc)" "${targets[@]}" fuzz_seeds || exit 1
"$build/fuzz/fuzz_seeds" "$build/seeds" || exit 1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    crashes="$build/crashes/$target"
    mkdir -p "$corpus" "$crashes"
    if [ -n "$seconds" ]; then
        limit=(-max_total_time="$seconds")
    else
        limit=(-runs="${runs[$target]}")
    fi
    echo "=== fuzz $target ${limit[*]}"
    # Memory stays bounded: the whole process under 1 GiB, no single allocation over 64 MiB.
    "$build/fuzz/$target" "${limit[@]}" -max_len=16384 -rss_limit_mb=1024 -malloc_limit_mb=64 \
        -timeout=30 -print_final_stats=1 -artifact_prefix="$crashes/" \
        "$corpus" "$build/seeds/$target" >"$build/$target.log" 2>&1
    result=$?
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^Done" "$build/$target.log"
    if [ $result -ne 0 ]; then
        # What broke comes first: the stack behind it is long and its top is what gets cut.
        grep -m 5 -E "fuzz invariant broken|terminate called|runtime error" "$build/$target.log"
        grep -A 12 -m 1 -E "ERROR: " "$build/$target.log"
        tail -n 12 "$build/$target.log"
        # Whether the input breaks it again, alone: a fault of timing or one of the input.
        for input in "$crashes"/*; do
            [ -f "$input" ] || continue
            if "$build/fuzz/$target" -rss_limit_mb=1024 -malloc_limit_mb=64 -timeout=30 \
                -artifact_prefix="$build/$target.again-" "$input" >"$build/$target.again.log" 2>&1; then
                echo "$(basename "$input") ($(stat -c %s "$input") bytes): passes when run again"
            else
                echo "$(basename "$input") ($(stat -c %s "$input") bytes): fails again:"
                grep -m 3 -E "fuzz invariant broken|ERROR: |terminate called" \
                    "$build/$target.again.log"
            fi
            [ "$(stat -c %s "$input")" -gt 3000 ] || { echo "base64:"; base64 -w 0 "$input"; echo; }
        done
        echo "FAILED: $target (input kept in $crashes)"
        status=1
    fi
done
if [ $status -eq 0 ]; then echo "Fuzzing passed."; else echo "Fuzzing found a fault."; fi
exit $status

#!/usr/bin/env bash
# Builds and runs every test three times: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build and a ThreadSanitizer build (the Qt-free core and link
# tests: Debian's Qt is not built for ThreadSanitizer), then a short fuzzing pass. Fails when
# any of them fails.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
bash scripts/install-locales.sh || true

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# CI sets MIRKA_WERROR=1: every warning of the three builds is an error there.
werror=()
[ "${MIRKA_WERROR:-0}" = 1 ] && werror=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)

run_suite() {
    local name=$1
    shift
    echo "=== $name build"
    cmake -S . -B "build-$name" -G Ninja "${werror[@]}" "$@" >"build-$name.cmake.log" 2>&1 ||
        { cat "build-$name.cmake.log"; return 1; }
    ninja -C "build-$name" -j "$jobs" || return 1
    echo "=== $name tests"
    ctest --test-dir "build-$name" --output-on-failure -j "$jobs" --timeout 300
}

status=0
run_suite normal -DCMAKE_BUILD_TYPE=RelWithDebInfo || status=1
run_suite asan -DCMAKE_BUILD_TYPE=Debug -DMIRKA_SANITIZE=address -DMIRKA_BUILD_BENCH=OFF || status=1
run_suite tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRKA_SANITIZE=thread -DMIRKA_BUILD_GUI=OFF \
    -DMIRKA_BUILD_BENCH=OFF || status=1
# A short fuzzing pass over the peer stream, the settings reader, the gateway answers and
# the search page (scripts/fuzz.sh SECONDS runs longer).
bash scripts/fuzz.sh || status=1

if [ $status -eq 0 ]; then echo "All test builds and the fuzzing pass passed."; else echo "A test build or the fuzzing pass failed."; fi
exit $status

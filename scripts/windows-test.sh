#!/usr/bin/env bash
# Builds the core, mirka-cli and the core's tests for 64-bit Windows (mingw-w64, against the
# prefix of scripts/windows-deps.sh, built once per machine) and runs the tests under wine,
# headless.
# MIRKA_WINDOWS_PREFIX names a prefix already built (scripts/windows-ci.sh passes it);
# without it the prefix is built or reused here. Prints a summary (passed, failed, skipped
# with the reason each test gives) and fails when the build or a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
build=${MIRKA_WINDOWS_BUILD:-build-windows}
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
mkdir -p "$cache"

started=$(date +%s)
prefix=${MIRKA_WINDOWS_PREFIX:-}
[ -n "$prefix" ] || prefix=$(bash scripts/windows-deps.sh | tail -n 1)
echo "=== windows: prefix $prefix"

# The compiler cache lives beside the prefix unless the caller has one; the base folder
# lets a fresh clone elsewhere hit the objects of the last one.
launcher=()
if command -v ccache >/dev/null; then
    if [ -z "${CCACHE_DIR:-}" ]; then
        export CCACHE_DIR=$cache/ccache
        export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-2G}
    fi
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# One wine prefix per machine, beside the libraries; made quietly on the first run (no
# dialogs offering Mono or Gecko), before the tests start in parallel.
export WINEPREFIX=${WINEPREFIX:-$cache/wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1 || true
fi

werror=()
[ "${MIRKA_WERROR:-0}" = 1 ] && werror=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
# Only a build from nothing (as in a fresh clone, the compiler cache aside) tells CI what the
# next one will take; it is kept by the compiler cache's state before it, which
# scripts/windows-ci.sh judges the same way: warm when a build with this prefix and these
# flags (-Werror or not: they are part of every object's key) has filled the cache.
fresh=0
[ -d "$build" ] || fresh=1
filled=
[ ${#launcher[@]} -eq 0 ] ||
    filled=$CCACHE_DIR/mirka-filled-$(basename "$(dirname "$prefix")")-werror${MIRKA_WERROR:-0}
cache_state=cold
[ -n "$filled" ] && [ -f "$filled" ] && cache_state=warm
# Optimised as a release is, without debug information: the tests need no debugger here,
# and DWARF in static Windows programs makes every link several times slower.
echo "=== windows build"
cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake \
    -DMIRKA_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    "${launcher[@]}" "${werror[@]}" -DMIRKA_BUILD_GUI=OFF -DMIRKA_BUILD_BENCH=OFF \
    >"$build.cmake.log" 2>&1 || { cat "$build.cmake.log"; exit 1; }
ninja -C "$build" -j "$jobs"
built=$(date +%s)
[ -z "$filled" ] || touch "$filled" 2>/dev/null || true
[ $fresh -eq 0 ] || echo $((built - started)) >"$cache/build-seconds-$cache_state"
echo "=== windows: built in $((built - started)) s (compiler cache $cache_state before)"

echo "=== windows tests (wine)"
status=0
# A list of failures left by an earlier run must never be what runs again below.
rm -f "$build/Testing/Temporary/LastTestsFailed.log"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$jobs" --timeout 300 \
    2>&1 | tee "$build/ctest.out" || status=1
# A wine start can fail before the program runs at all (no output, or "wine client error:0:
# recvmsg: Connection reset by peer", once in each of two CI runs): the failed tests run once more, one at a time, and only a test
# that fails twice fails the leg. The summary names each one that needed the second run.
again=
# Only after a run that ended with its summary: a run that could not even list its tests
# stays failed.
if [ $status -ne 0 ] && grep -q 'tests failed out of' "$build/ctest.out" &&
    [ -s "$build/Testing/Temporary/LastTestsFailed.log" ]; then
    again=$(sed 's/^[0-9]*://' "$build/Testing/Temporary/LastTestsFailed.log" | tr '\n' ' ')
    echo "=== windows: once more: $again"
    cp "$build/Testing/Temporary/LastTest.log" "$build/LastTest-first.log"
    ctest --test-dir "$build" --output-on-failure --rerun-failed --timeout 300 \
        2>&1 | tee "$build/ctest-again.out" && status=0
fi
# The wine server of this prefix ends with the run.
"$(dirname "$wine")/wineserver" -k 2>/dev/null || true
finished=$(date +%s)
echo $((finished - built)) >"$cache/last-test-seconds"

echo "=== windows summary"
grep -E 'tests passed|tests failed out of' "$build/ctest.out" || echo "no ctest summary (see above)"
# gtest prints the reason of a skip on the line after "Skipped".
tested=$build/Testing/Temporary/LastTest.log
[ -z "$again" ] || tested=$build/LastTest-first.log
awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
     /: Skipped$/ { getline reason; print "  skipped " name ": " reason }' \
    "$tested" 2>/dev/null | sort -u
last=$build/ctest.out
[ -z "$again" ] || last=$build/ctest-again.out
sed -n '/The following tests FAILED:/,$p' "$last" | grep -E '^\s+[0-9]+ - ' |
    sed 's/^ */  FAILED /' || true
[ -z "$again" ] || [ $status -ne 0 ] || echo "  passed on a second run: $again"
echo "=== windows: build $((built - started)) s, tests $((finished - built)) s"
exit $status

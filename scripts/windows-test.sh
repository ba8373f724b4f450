#!/usr/bin/env bash
# Builds the core and its tests for 64-bit Windows (mingw-w64, against the prefix of
# scripts/windows-deps.sh, built once per machine) and runs the tests under wine, headless.
# Fails when the build or a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

started=$(date +%s)
prefix=$(bash scripts/windows-deps.sh | tail -n 1)
echo "=== windows: prefix $prefix ($(($(date +%s) - started)) s)"

# One wine prefix per machine, beside the libraries; made quietly on the first run (no
# dialogs offering Mono or Gecko), before the tests start in parallel.
export WINEPREFIX=${WINEPREFIX:-$cache/wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot --init >/dev/null 2>&1 || true
fi

werror=()
[ "${MIRKA_WERROR:-0}" = 1 ] && werror=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
echo "=== windows build"
cmake -S . -B build-windows -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake \
    -DMIRKA_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${werror[@]}" \
    -DMIRKA_BUILD_GUI=OFF -DMIRKA_BUILD_BENCH=OFF >build-windows.cmake.log 2>&1 ||
    { cat build-windows.cmake.log; exit 1; }
ninja -C build-windows -j "$jobs"
echo "=== windows tests (wine)"
status=0
ctest --test-dir build-windows --output-on-failure -j "$jobs" --timeout 300 || status=1
# The wine server of this prefix ends with the run.
"$(dirname "$wine")/wineserver" -k 2>/dev/null || true
echo "=== windows: $(($(date +%s) - started)) s in all"
exit $status

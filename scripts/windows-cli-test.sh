#!/usr/bin/env bash
# mirka-cli.exe of the Windows build under wine against the Linux build's mirka-cli on
# loopback (tests/cli/wine): chat lines, files with Japanese names and a folder, both ways,
# plain and private.
#   windows-cli-test.sh [LINUX_BUILD [WINDOWS_BUILD]]
# LINUX_BUILD (build-normal, the one scripts/test.sh makes) is configured with MIRKA_WINE_CLI
# naming WINDOWS_BUILD's mirka-cli.exe (build-windows); a LINUX_BUILD that is not there yet is
# made with only what the test needs.
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build-normal}
windows=${2:-build-windows}
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
exe=$(readlink -f "$windows/src/cli/mirka-cli.exe")
[ -f "$exe" ] || { echo "=== windows cli: no $windows/src/cli/mirka-cli.exe"; exit 1; }
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
started=$(date +%s)

export WINEPREFIX=${WINEPREFIX:-$cache/wine}
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)

werror=()
[ "${MIRKA_WERROR:-0}" = 1 ] && werror=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
# A build that is there keeps its own source folder and options.
where=("$linux")
[ -f "$linux/CMakeCache.txt" ] ||
    where=(-S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRKA_BUILD_GUI=OFF
        -DMIRKA_BUILD_BENCH=OFF)
echo "=== windows cli: $linux against $exe"
mkdir -p "$linux"
cmake "${werror[@]}" -DMIRKA_WINE_CLI="$exe" "${where[@]}" >"$linux/wine-cli.cmake.log" 2>&1 ||
    { cat "$linux/wine-cli.cmake.log"; exit 1; }
ninja -C "$linux" -j "$jobs" mirka-cli test_cli_wine
status=0
ctest --test-dir "$linux" --output-on-failure -L '^cli_wine$' --no-tests=error || status=1
"$(dirname "$wine")/wineserver" -k 2>/dev/null || true
echo $(($(date +%s) - started)) >"$cache/cli-test-seconds"
echo "=== windows cli: $(($(date +%s) - started)) s"
exit $status

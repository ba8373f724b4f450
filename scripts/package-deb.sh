#!/usr/bin/env bash
# Builds the window program and the terminal end for /usr and packs them as a .deb
# (cmake/package-deb.cmake): build-deb/mirka_<version>-1_<arch>.deb, named on the last line.
# BUILD_DIR moves build-deb. Runs lintian on the package when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-deb}
launcher=()
command -v ccache >/dev/null &&
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The flags of the usual build, so that a compiler cache it filled serves this one too.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_INSTALL_PREFIX=/usr \
    -DMIRKA_BUILD_TESTS=OFF -DMIRKA_BUILD_BENCH=OFF >&2
ninja -C "$build" -j "${JOBS:-2}" mirka mirka-cli >&2
(cd "$build" && cpack -G DEB >&2)
deb=$(find "$build" -maxdepth 1 -name 'mirka_*.deb' -newer "$build/CMakeCache.txt" | head -n 1)
[ -n "$deb" ] || { echo "package-deb: cpack wrote no package" >&2; exit 1; }
if command -v lintian >/dev/null; then
    # Tags left as they are: see the README's paragraph on the package.
    lintian --fail-on error "$deb" >&2 || { echo "package-deb: lintian found errors" >&2; exit 1; }
fi
echo "$deb"

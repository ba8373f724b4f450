#!/usr/bin/env bash
# Cross-builds Qt's base module (Core, Gui, Widgets and the Windows platform plugin) for
# 64-bit Windows from Debian's own qt6-base source package, with Debian's mingw-w64 and the
# host tools (moc, rcc, uic) of Debian's qt6-base-dev-tools, into one prefix outside the clone:
#   ~/.cache/mirka-windows/qt-<key>/prefix   (MIRKA_WINDOWS_CACHE moves ~/.cache/mirka-windows)
# The key hashes the source package's version, the host tools' version, the compiler's
# version and this script: a prefix that matches is reused as it is.
# Qt is built static, as the other Windows libraries are: mirka.exe is then one file, with
# the platform plugin linked in, and needs no Qt DLLs or plugin folder found beside it.
# Prints the prefix on its last line (standard output); everything else goes to stderr.
# With --check it builds nothing: prints the prefix and exits 0 when it is complete, 2 when
# it would have to be built.
# The build is long (see the README's Windows section): it runs at nice 19 with at most two
# jobs (MIRKA_WINDOWS_JOBS).
set -euo pipefail
shopt -s inherit_errexit

host=x86_64-w64-mingw32
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
jobs=${MIRKA_WINDOWS_JOBS:-2}
[ "$jobs" -le 2 ] || jobs=2
script_path=$(readlink -f "$0")

log() { echo "windows-qt: $*" >&2; }

check=0
[ "${1:-}" = --check ] && check=1

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

# The cross compiler, the host Qt of the same version (its tools and their CMake files), and
# Qt's translations (the Japanese .qm files go beside the program; they do not depend on the
# system they were built on).
tools=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev qt6-base-dev-tools qt6-base-dev qt6-translations-l10n dpkg-dev cmake
    ninja-build perl)
missing=()
for package in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    [ $check -eq 0 ] || { log "missing tools: ${missing[*]}"; exit 2; }
    log "installing ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq >&2
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The deb-src entry is the one scripts/windows-deps.sh adds.
dsc=$(apt-get source --print-uris -qq qt6-base 2>/dev/null |
    sed -n "s/^'[^']*' \([^ ]*\.dsc\) .*/\1/p" | head -n 1)
if [ -z "$dsc" ]; then
    log "apt knows no source of qt6-base (run scripts/windows-deps.sh first: it adds deb-src)"
    exit 1
fi
source_version=${dsc#qt6-base_}
source_version=${source_version%.dsc}
tools_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
# The host tools must be the source's own Qt version: moc's output is read by that Qt.
if [ "${source_version%%[+-]*}" != "${tools_version%%[+-]*}" ]; then
    log "qt6-base source $source_version and host tools $tools_version differ in version"
    exit 1
fi

compiler=$($host-g++-posix --version | head -n 1)
key=$({
    echo "$dsc"
    echo "qt6-base-dev-tools $tools_version"
    echo "$compiler"
    sha256sum "$script_path" | cut -d ' ' -f 1
} | sha256sum | cut -c 1-16)
place=$cache/qt-$key
prefix=$place/prefix
if [ -f "$prefix/.complete" ]; then
    log "reusing $prefix"
    echo "$prefix"
    exit 0
fi
if [ $check -eq 1 ]; then
    echo "$prefix"
    log "$prefix is not built yet"
    exit 2
fi

log "building $prefix from $dsc with the host tools of qt6-base-dev-tools $tools_version"
started=$(date +%s)
work=$place/work
rm -rf "$prefix"
# A build that was stopped (the machine's session ended, say) goes on where it stopped: the
# unpacked source and the build folder of the same key are kept until the prefix is complete.
folder=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt*' 2>/dev/null | head -n 1 || true)
if [ -z "$folder" ] || [ ! -f "$work/.unpacked" ]; then
    rm -rf "$work"
    mkdir -p "$work"
    (cd "$work" && apt-get source -qq qt6-base >&2)
    folder=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'qt*' | head -n 1)
    [ -n "$folder" ] || { log "no source folder for qt6-base"; exit 1; }
    touch "$work/.unpacked"
else
    log "going on with the build in $work"
fi

build=(nice -n 19)
# What the program does not use is left out: the modules but Core, Gui and Widgets (no SQL,
# network, D-Bus, XML, printing, test library, OpenGL, Vulkan), the Direct2D plugin, and
# the DirectWrite 3 font database (its sources come with the Direct2D plugin only), and
# tablet input (its header, 3rdparty/wintab, is not in Debian's source: its licence does not
# allow changes). The third-party code Qt carries (zlib, libpng, libjpeg, harfbuzz, pcre2,
# double-conversion) is built from that same source; the system's are the host's, not
# Windows ones. Fonts come from the system's own engines (GDI, DirectWrite), not FreeType.
off=(sql network dbus xml printsupport testlib concurrent opengl opengles2 opengles3
    opengles31 opengles32 opengl_desktop opengl_dynamic vulkan direct2d directwrite3 tabletevent freetype
    fontconfig icu zstd sql_sqlite system_zlib system_png system_jpeg system_harfbuzz
    system_pcre2 system_doubleconversion)
flags=()
for feature in "${off[@]}"; do
    flags+=("-DFEATURE_$feature=OFF")
done

"${build[@]}" cmake -S "$folder" -B "$work/build" -G Ninja \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=AMD64 \
    -DCMAKE_C_COMPILER=$host-gcc-posix -DCMAKE_CXX_COMPILER=$host-g++-posix \
    -DCMAKE_RC_COMPILER=$host-windres -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH=/usr/$host \
    -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
    -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DBUILD_SHARED_LIBS=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_BUILD_MANUAL_TESTS=OFF -DQT_GENERATE_SBOM=OFF -DINPUT_opengl=no "${flags[@]}" >&2
configured=$(date +%s)
log "configured in $((configured - started)) s"
"${build[@]}" cmake --build "$work/build" -j "$jobs" >&2
cmake --install "$work/build" >&2

# Qt's Japanese translations (the standard dialogs' buttons and the context menus).
mkdir -p "$prefix/translations"
cp /usr/share/qt6/translations/qtbase_ja.qm "$prefix/translations/"

echo "$dsc" >"$prefix/.complete"
rm -rf "$work"
echo $(($(date +%s) - started)) >"$prefix/.build-seconds"
log "built in $(cat "$prefix/.build-seconds") s"
echo "$prefix"

#!/usr/bin/env bash
# Builds the libraries the core and its tests need for 64-bit Windows, from Debian's own
# source packages, with Debian's mingw-w64 cross compiler, into one prefix outside the clone:
#   ~/.cache/mirka-windows/<key>/prefix   (MIRKA_WINDOWS_CACHE moves ~/.cache/mirka-windows)
# The key hashes the source package versions, the compiler's version and this script, so a
# prefix that matches is reused as it is and any change builds a new one beside it.
# Every library is static: the test programs then run under wine with no DLL to find, and a
# Windows program ships as one file.
# Prints the prefix on its last line (standard output); everything else goes to stderr.
# With --check it builds and installs nothing: it prints the prefix and exits 0 when that
# prefix is complete, 2 when it would have to be built (or the tools to build it are missing).
set -euo pipefail
shopt -s inherit_errexit

host=x86_64-w64-mingw32
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
jobs=${MIRKA_WINDOWS_JOBS:-2}
script_path=$(readlink -f "$0")
# The source packages, in build order (libpng needs zlib).
sources=(zlib libpng1.6 libjpeg-turbo libsodium openssl miniupnpc googletest)

log() { echo "windows-deps: $*" >&2; }

check=0
[ "${1:-}" = --check ] && check=1
# In --check mode: nothing here to reuse.
not_built() {
    log "$*"
    exit 2
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

# The cross tools, wine to run the tests, and what unpacking and building the sources needs.
tools=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev mingw-w64-tools wine64 dpkg-dev make cmake ninja-build perl
    pkg-config libboost-dev autoconf automake libtool)
missing=()
for package in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
updated=0
[ ${#missing[@]} -eq 0 ] || [ $check -eq 0 ] || not_built "missing tools: ${missing[*]}"
if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq >&2
    updated=1
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Source packages need a deb-src entry: one beside each of the machine's own Debian sources,
# but for the security archive, whose mirror here serves no sources (404).
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    [ $check -eq 0 ] || not_built "no deb-src entry yet"
    log "adding deb-src entries beside the machine's apt sources"
    entries=$(mktemp)
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        grep -q 'debian' "$file" || continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" } /debian/ && !/security/ {
            sub(/Types: deb\n/, "Types: deb-src\n"); print }' "$file" >>"$entries"
    done
    if [ -s "$entries" ]; then
        "${sudo_cmd[@]}" install -m 644 "$entries" /etc/apt/sources.list.d/mirka-deb-src.sources
    elif [ -f /etc/apt/sources.list ]; then
        sed -n '/security/d; s/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list >"$entries"
        "${sudo_cmd[@]}" install -m 644 "$entries" /etc/apt/sources.list.d/mirka-deb-src.list
    fi
    rm -f "$entries"
    "${sudo_cmd[@]}" apt-get update -qq >&2
    updated=1
fi

# The exact source versions (the .dsc file names) come from apt's lists, without a download.
dsc_names() {
    local package
    for package in "${sources[@]}"; do
        apt-get source --print-uris -qq "$package" 2>/dev/null |
            sed -n "s/^'[^']*' \([^ ]*\.dsc\) .*/\1/p" | head -n 1
    done
}
versions=$(dsc_names)
if [ "$(echo "$versions" | grep -c '\.dsc$')" -ne ${#sources[@]} ] && [ $updated -eq 0 ] &&
    [ $check -eq 0 ]; then
    "${sudo_cmd[@]}" apt-get update -qq >&2
    versions=$(dsc_names)
fi
if [ "$(echo "$versions" | grep -c '\.dsc$')" -ne ${#sources[@]} ]; then
    [ $check -eq 0 ] || not_built "apt knows no source of some package"
    log "apt knows no source of some package; found only:"
    echo "$versions" >&2
    exit 1
fi

compiler=$($host-g++-posix --version | head -n 1)
key=$({
    echo "$versions"
    echo "$compiler"
    sha256sum "$script_path" | cut -d ' ' -f 1
} | sha256sum | cut -c 1-16)
place=$cache/$key
prefix=$place/prefix
if [ -f "$prefix/.complete" ]; then
    log "reusing $prefix"
    echo "$prefix"
    exit 0
fi
if [ $check -eq 1 ]; then
    echo "$prefix"
    not_built "$prefix is not built yet"
fi

log "building $prefix from:"
echo "$versions" | sed 's/^/    /' >&2
started=$(date +%s)
work=$place/work
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix/include" "$prefix/lib/pkgconfig"
cd "$work"

build=(nice -n 10)
export CC=$host-gcc-posix CXX=$host-g++-posix AR=$host-ar RANLIB=$host-ranlib
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig

# Unpacks one source package (with Debian's patches applied) and prints its folder.
fetch() {
    local package=$1
    mkdir -p "$work/$package"
    (cd "$work/$package" && apt-get source -qq "$package" >&2)
    local folder
    folder=$(find "$work/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -n "$folder" ] || { log "no source folder for $package"; return 1; }
    echo "$folder"
}

cmake_build() {
    local folder=$1
    shift
    "${build[@]}" cmake -S "$folder" -B "$folder/build-win" -G Ninja \
        -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=$CC -DCMAKE_CXX_COMPILER=$CXX \
        -DCMAKE_RC_COMPILER=$host-windres -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" \
        -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
        -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY \
        -DBUILD_SHARED_LIBS=OFF "$@" >&2
    "${build[@]}" cmake --build "$folder/build-win" -j "$jobs" >&2
    cmake --install "$folder/build-win" >&2
}

timed() {
    local name=$1 begin
    shift
    begin=$(date +%s)
    "$@"
    log "$name: $(($(date +%s) - begin)) s"
}

build_zlib() {
    local folder
    folder=$(fetch zlib)
    # Debian's zlib source leaves out the Windows makefiles; the library is its plain C files.
    (cd "$folder" && for name in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite \
        infback inffast inflate inftrees trees uncompr zutil; do
        "${build[@]}" "$CC" -O2 -c "$name.c" -o "$name.o" || exit 1
    done && $AR rcs libz.a ./*.o)
    install -m 644 "$folder/libz.a" "$prefix/lib/"
    install -m 644 "$folder/zlib.h" "$folder/zconf.h" "$prefix/include/"
}

build_libpng() {
    local folder
    folder=$(fetch libpng1.6)
    cmake_build "$folder" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DZLIB_ROOT="$prefix" -DZLIB_LIBRARY="$prefix/lib/libz.a" \
        -DZLIB_INCLUDE_DIR="$prefix/include"
}

build_libjpeg() {
    local folder
    folder=$(fetch libjpeg-turbo)
    # Without NASM the SIMD code is left out: the tests need correct pictures, not speed.
    cmake_build "$folder" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
        -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DCMAKE_SYSTEM_PROCESSOR=AMD64
}

build_libsodium() {
    local folder
    folder=$(fetch libsodium)
    # Debian's source is the release's tree without a generated configure, as Debian's own
    # build makes it.
    (cd "$folder" && autoreconf -fi >&2 && "${build[@]}" ./configure -q --host=$host --prefix="$prefix" \
        --disable-shared --enable-static --disable-dependency-tracking >&2 &&
        "${build[@]}" make -j "$jobs" >&2 && make install >&2)
}

build_openssl() {
    local folder
    folder=$(fetch openssl)
    # Only libcrypto (no libssl, programs, tests or manuals): no DLLs, no engines or modules
    # to load at run time, and none of the ciphers, digests and formats the program never
    # calls (it takes SHA-256 from here, everything else from libsodium). Each one left out
    # is compile time saved on every machine that builds the prefix.
    local unused=(legacy deprecated aria bf camellia cast cms comp ct idea md4 mdc2 ocsp rc2 rc4
        rc5 rmd160 seed sm2 sm3 sm4 srp ts whirlpool ssl3 dtls srtp ui-console autoload-config)
    (cd "$folder" && unset CC CXX AR RANLIB &&
        "${build[@]}" ./Configure mingw64 --cross-compile-prefix=$host- --prefix="$prefix" \
            --libdir=lib no-shared no-tests no-module no-engine no-dso "${unused[@]/#/no-}" >&2 &&
        "${build[@]}" make -j "$jobs" build_generated >&2 &&
        "${build[@]}" make -j "$jobs" libcrypto.a >&2)
    install -m 644 "$folder/libcrypto.a" "$prefix/lib/"
    mkdir -p "$prefix/include/openssl"
    install -m 644 "$folder"/include/openssl/*.h "$prefix/include/openssl/"
}

build_miniupnpc() {
    local folder
    folder=$(fetch miniupnpc)
    cmake_build "$folder" -DUPNPC_BUILD_STATIC=ON -DUPNPC_BUILD_SHARED=OFF \
        -DUPNPC_BUILD_TESTS=OFF -DUPNPC_BUILD_SAMPLE=OFF
    # The static library's users must not declare its functions as DLL imports; its
    # Windows socket and adapter calls need their system libraries.
    cat >"$prefix/lib/pkgconfig/miniupnpc.pc" <<EOF
prefix=$prefix
Name: miniupnpc
Description: UPnP IGD client (static, Windows)
Version: $(echo "$versions" | sed -n 's/^miniupnpc_\([^-]*\).*/\1/p')
Cflags: -I\${prefix}/include -DMINIUPNP_STATICLIB
Libs: -L\${prefix}/lib -lminiupnpc -lws2_32 -liphlpapi
EOF
}

build_googletest() {
    local folder
    folder=$(fetch googletest)
    cmake_build "$folder" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# The longest first: a fault there shows before the others have been built.
timed openssl build_openssl
timed zlib build_zlib
timed libpng build_libpng
timed libjpeg-turbo build_libjpeg
timed libsodium build_libsodium
timed miniupnpc build_miniupnpc
timed googletest build_googletest

# Boost stays header-only, from the host's libboost-dev; the prefix points at it so that the
# cross build finds it inside its root.
ln -sfn /usr/include/boost "$prefix/include/boost"

echo "$versions" >"$prefix/.complete"
rm -rf "$work"
# The time it took tells scripts/windows-ci.sh how long the next build from nothing may take.
echo $(($(date +%s) - started)) >"$prefix/.build-seconds"
log "built in $(cat "$prefix/.build-seconds") s"
echo "$prefix"

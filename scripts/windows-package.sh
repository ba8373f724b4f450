#!/usr/bin/env bash
# Builds the Windows programs (mirka.exe, the window program, and mirka-cli.exe) against the
# libraries of scripts/windows-deps.sh and the Qt of scripts/windows-qt.sh (each built first
# when its prefix is missing, which takes long: see the README's Windows section), and packs
# them as a folder, a zip and, with makensis (Debian's nsis), an installer:
#   build-windows-gui/mirka/                  the folder as it is shipped
#   build-windows-gui/mirka-<version>-windows.zip
#   build-windows-gui/mirka-<version>-setup.exe  (Start-menu entry with the icon, uninstaller)
# BUILD_DIR moves build-windows-gui. Prints the zip (and the installer) on the last lines.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${BUILD_DIR:-build-windows-gui}
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
jobs=${MIRKA_WINDOWS_JOBS:-2}
host=x86_64-w64-mingw32

deps=$(nice -n 19 bash scripts/windows-deps.sh | tail -n 1)
qt=$(nice -n 19 bash scripts/windows-qt.sh | tail -n 1)

# The compiler cache and flags of scripts/windows-test.sh (with -Werror, as CI builds): the
# core's objects are then the ones CI's Windows leg has already compiled.
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_DIR=${CCACHE_DIR:-$cache/ccache} CCACHE_BASEDIR=$source_dir
    export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-2G}
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Optimised, without debug information: DWARF in a static Qt program makes its link many
# times slower and its file many times larger.
cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake \
    -DMIRKA_WINDOWS_PREFIX="$deps" -DMIRKA_WINDOWS_QT="$qt" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "${launcher[@]}" -DMIRKA_BUILD_TESTS=OFF \
    -DMIRKA_BUILD_BENCH=OFF >&2
nice -n 19 ninja -C "$build" -j "$jobs" mirka mirka-cli >&2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
folder=$build/mirka
rm -rf "$folder"
mkdir -p "$folder/translations"
$host-strip -o "$folder/mirka.exe" "$build/src/gui/mirka.exe"
$host-strip -o "$folder/mirka-cli.exe" "$build/src/cli/mirka-cli.exe"
# The shipped files beside the program, where it looks for them.
for name in changelog.txt readme.txt help.html send.wav stat_chg.wav file_receive.wav; do
    install -m 644 "resources/$name" "$folder/"
done
# Qt's Japanese texts (buttons of the standard dialogs, the text fields' menus), from
# Debian's qt6-translations-l10n: qt_ja.qm loads the other two.
for name in qt_ja qtbase_ja qtmultimedia_ja; do
    install -m 644 "/usr/share/qt6/translations/$name.qm" "$folder/translations/"
done
# Qt looks for its translations beside the program, not in the prefix it was built into.
printf '[Paths]\r\nPrefix=.\r\nTranslations=translations\r\n' >"$folder/qt.conf"
install -m 644 resources/icons/mirka.ico "$folder/"

zip_file=$build/mirka-$version-windows.zip
rm -f "$zip_file"
(cd "$build" && zip -q -r -X "$(basename "$zip_file")" mirka)
echo "windows-package: $(du -h "$zip_file" | cut -f 1) $zip_file" >&2

setup=
if command -v makensis >/dev/null; then
    setup=$build/mirka-$version-setup.exe
    makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSOURCE="$(readlink -f "$folder")" \
        -DOUTFILE="$(readlink -f "$build")/$(basename "$setup")" scripts/windows-installer.nsi >&2
fi
echo "$zip_file"
[ -z "$setup" ] || echo "$setup"

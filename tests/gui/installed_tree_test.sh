#!/usr/bin/env bash
# An installed tree in a temporary prefix: every shipped file is there, the desktop entry
# and the AppStream data pass their checkers, and the installed program starts, finds its
# files under the prefix and keeps its debug log in $XDG_CONFIG_HOME/mirka, not in the
# working folder. Usage: installed_tree_test.sh <build folder>
set -euo pipefail
build="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/mirka share/mirka/changelog.txt share/mirka/readme.txt share/mirka/help.html \
    share/mirka/send.wav share/mirka/stat_chg.wav share/mirka/file_receive.wav \
    share/applications/org.example.mirka.desktop share/metainfo/org.example.mirka.metainfo.xml \
    share/icons/hicolor/16x16/apps/org.example.mirka.png \
    share/icons/hicolor/256x256/apps/org.example.mirka.png \
    share/icons/hicolor/scalable/apps/org.example.mirka.svg; do
    [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/org.example.mirka.desktop"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/org.example.mirka.metainfo.xml" >/dev/null
fi

mkdir -p "$tmp/work" "$tmp/home"
cd "$tmp/work"
status=0
HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_DOWNLOAD_DIR="$tmp/downloads" \
    QT_QPA_PLATFORM=offscreen timeout 5 "$prefix/bin/mirka" || status=$?
[ "$status" -eq 124 ] || { echo "the installed program ended early (exit $status)"; exit 1; }
log="$tmp/config/mirka/debug.txt"
[ -f "$log" ] || { echo "no debug log in \$XDG_CONFIG_HOME/mirka"; exit 1; }
grep -q "start program" "$log"
grep -q "data .. $prefix/share/mirka" "$log" || { echo "data folder not found:"; cat "$log"; exit 1; }
[ ! -e "$tmp/work/debug.txt" ] || { echo "debug.txt written into the working folder"; exit 1; }
echo "installed tree OK"

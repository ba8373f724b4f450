#!/usr/bin/env bash
# Renders the login window, the talk window (both pages) and the dialogs to PNG files on
# the offscreen platform, at 100 % and at 150 % scaling, and lists any text that does not
# fit its place. Usage: scripts/screenshots.sh [output folder]   (default build-normal/screenshots)
# BUILD_DIR chooses the build folder (default build-normal).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build-normal}"
out="${1:-$build/screenshots}"
bash scripts/install-deps.sh

[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" window_shots

export QT_QPA_PLATFORM=offscreen
export LANG="${LANG:-C.UTF-8}"
status=0
QT_SCALE_FACTOR=1 "$build/tests/gui/window_shots" "$out" 100 || status=1
QT_SCALE_FACTOR=1.5 "$build/tests/gui/window_shots" "$out" 150 || status=1
rm -rf "$out/work"
exit $status

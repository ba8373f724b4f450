#!/usr/bin/env bash
# Builds the program and starts it in a working folder (run/a, or run/b with "b" as the
# first argument, so one machine can run both ends). conf.txt and debug.txt land there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRKA_BUILD_TESTS=OFF \
    -DMIRKA_BUILD_BENCH=OFF >/dev/null
ninja -C build mirka

folder="run/${1:-a}"
mkdir -p "$folder"
cp -u resources/*.wav resources/readme.txt resources/help.html "$folder/" 2>/dev/null || true
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are empty): start it from a desktop session," >&2
    echo "or under Xvfb, e.g. xvfb-run scripts/run.sh" >&2
    exit 1
fi
export LANG="${LANG:-C.UTF-8}"
cd "$folder"
exec "../../build/src/gui/mirka"

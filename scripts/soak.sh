#!/usr/bin/env bash
# The bounded soak of the link: repeated connect, transfers both ways, disconnect and
# reconnect in one process, with memory, threads and open files printed per cycle.
#   scripts/soak.sh        3 minutes
#   scripts/soak.sh 30     30 minutes
# The per-cycle figures also go to build-soak/soak.log. Fails when anything grows or breaks.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1

minutes=${1:-3}
build=build-soak
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRKA_BUILD_GUI=OFF \
    -DMIRKA_BUILD_BENCH=ON >"$build.cmake.log" 2>&1 || { cat "$build.cmake.log"; exit 1; }
ninja -C "$build" -j "$(nproc)" bench_load_soak || exit 1
"$build/bench/bench_load_soak" "$((minutes * 60))" | tee "$build/soak.log"
exit "${PIPESTATUS[0]}"

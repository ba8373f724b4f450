#!/usr/bin/env bash
# CI's Windows leg, run by .ci/run after the Linux suite: the core and its tests built for
# Windows and run under wine (scripts/windows-test.sh), against the dependency prefix built
# once per machine under ~/.cache (scripts/windows-deps.sh).
# The leg must never push CI past its time limit. With the prefix on this machine it costs
# the core's build (mostly from the compiler cache) and the test run. Without the prefix it
# is built here only when the projected end stays within the budget; otherwise the leg is
# skipped, says why, and exits 0 (the next run of CI, or one run of scripts/windows-deps.sh
# by hand, finds the prefix built).
#   MIRKA_CI_STARTED          when CI started (seconds since 1970; .ci/run sets it)
#   MIRKA_CI_BUDGET_MINUTES   the end the prefix build must fit in (55)
#   MIRKA_CI_LIMIT_MINUTES    the end the leg must fit in even with the prefix there (60)
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
now=$(date +%s)
started=${MIRKA_CI_STARTED:-$now}
budget=$((${MIRKA_CI_BUDGET_MINUTES:-55} * 60))
limit=$((${MIRKA_CI_LIMIT_MINUTES:-60} * 60))
elapsed=$((now - started))

minutes() { echo "$((($1 + 59) / 60)) min"; }
# A number from the file, or the default when there is none yet.
recorded() {
    local value
    value=$(cat "$1" 2>/dev/null || true)
    [[ "$value" =~ ^[0-9]+$ ]] && echo "$value" || echo "$2"
}
skip() {
    echo "=== windows: SKIPPED for time, CI passes without it: $*"
    exit 0
}

# What the parts took here last time; the defaults are the figures of the 2-core machine
# under a load of about 12: the core's build with no compiler cache 29 min (51 s from a
# warm one), the tests under wine 8 min, the prefix from nothing 41 min.
build_estimate=$(recorded "$cache/last-build-seconds" 1800)
ccache_dir=${CCACHE_DIR:-$cache/ccache}
[ -d "$ccache_dir" ] || build_estimate=1800
test_estimate=$(recorded "$cache/last-test-seconds" 600)
prefix_estimate=0
for file in "$cache"/*/prefix/.build-seconds; do
    value=$(recorded "$file" 0)
    [ "$value" -gt "$prefix_estimate" ] && prefix_estimate=$value
done
[ "$prefix_estimate" -gt 0 ] || prefix_estimate=3000
echo "=== windows leg: CI has run $(minutes "$elapsed"); the core's build takes about" \
    "$(minutes "$build_estimate"), its tests under wine $(minutes "$test_estimate")"

if prefix=$(bash scripts/windows-deps.sh --check 2>/dev/null | tail -n 1) && [ -n "$prefix" ]; then
    projected=$((elapsed + build_estimate + test_estimate))
    [ $projected -le $limit ] ||
        skip "the leg would end CI at about $(minutes $projected), past $(minutes $limit)"
else
    projected=$((elapsed + prefix_estimate + build_estimate + test_estimate))
    [ $projected -le $budget ] ||
        skip "the Windows libraries are not built on this machine (${prefix:-tools missing});" \
            "building them takes about $(minutes "$prefix_estimate"), so the leg would end CI" \
            "at about $(minutes $projected), past $(minutes $budget). Build them once outside CI" \
            "with 'nice -n 19 bash scripts/windows-deps.sh'; the next CI run reuses them."
    echo "=== windows: building the prefix (about $(minutes "$prefix_estimate"))"
    prefix=$(bash scripts/windows-deps.sh | tail -n 1) || {
        echo "=== windows: the prefix build failed"
        exit 1
    }
fi
MIRKA_WINDOWS_PREFIX=$prefix exec bash scripts/windows-test.sh

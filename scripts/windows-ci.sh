#!/usr/bin/env bash
# CI's Windows leg, run by .ci/run after the Linux suite: the core, mirka-cli and the core's
# tests built for Windows and run under wine (scripts/windows-test.sh), against the dependency
# prefix built once per machine under ~/.cache (scripts/windows-deps.sh), then mirka-cli.exe
# under wine against the Linux build's mirka-cli (scripts/windows-cli-test.sh).
# The leg must never push CI past its time limit. It is estimated from what its parts took
# here last time, the build by the compiler cache's state: warm (the prefix there and the
# cache filled by a build against it with the same flags) or cold. When the estimate goes past the limit the leg is skipped,
# says why, and exits 0; when it runs, it runs under a timeout at the limit, so even a wrong
# estimate stops it there (skipped for time, passing, with what had run).
#   MIRKA_CI_STARTED          when CI started (seconds since 1970; .ci/run sets it)
#   MIRKA_CI_BUDGET_MINUTES   the end the prefix build must fit in (55)
#   MIRKA_CI_LIMIT_MINUTES    the end the leg must fit in even with the prefix there (60)
#   MIRKA_LINUX_BUILD         the Linux build the cross test uses (build-normal, scripts/test.sh's)
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

# The defaults are this 2-core machine's figures under a load of about 12: the core's build
# with no compiler cache 29 min, from a warm one 2 min, the tests under wine 8 min, the cross
# test 4 min, the prefix from nothing 41 min (at a load of about 5 the leg took 212 s warm).
ccache_dir=${CCACHE_DIR:-$cache/ccache}
test_estimate=$(($(recorded "$cache/last-test-seconds" 600) + $(recorded "$cache/cli-test-seconds" 240)))
prefix_estimate=0
for file in "$cache"/*/prefix/.build-seconds; do
    value=$(recorded "$file" 0)
    [ "$value" -gt "$prefix_estimate" ] && prefix_estimate=$value
done
[ "$prefix_estimate" -gt 0 ] || prefix_estimate=3000

if prefix=$(bash scripts/windows-deps.sh --check 2>/dev/null | tail -n 1) && [ -n "$prefix" ]; then
    # Warm: scripts/windows-test.sh built against this prefix with these flags into the
    # cache (objects of another prefix or without -Werror would not be hit).
    filled=$ccache_dir/mirka-filled-$(basename "$(dirname "$prefix")")-werror${MIRKA_WERROR:-0}
    hint=
    if command -v ccache >/dev/null && [ -f "$filled" ]; then
        state="warm compiler cache"
        build_estimate=$(recorded "$cache/build-seconds-warm" 120)
    else
        state="cold compiler cache"
        build_estimate=$(recorded "$cache/build-seconds-cold" 1800)
        hint="; 'MIRKA_WERROR=1 bash scripts/windows-test.sh' once outside CI fills it"
    fi
    projected=$((elapsed + build_estimate + test_estimate))
    echo "=== windows leg: CI has run $(minutes "$elapsed"); with the prefix there and a $state" \
        "the build takes about $(minutes "$build_estimate"), the tests under wine" \
        "$(minutes "$test_estimate"): CI would end at about $(minutes $projected)"
    [ $projected -le $limit ] ||
        skip "the leg would end CI at about $(minutes $projected), past $(minutes $limit)" \
            "($state$hint)"
else
    # A new prefix leaves the compiler cache's objects for the old one unused.
    build_estimate=$(recorded "$cache/build-seconds-cold" 1800)
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

# Whatever the estimate said, the leg stops at the limit.
left=$((limit - $(date +%s) + started))
[ $left -gt 60 ] || skip "no time left before $(minutes $limit)"
leg() {
    MIRKA_WINDOWS_PREFIX=$prefix bash scripts/windows-test.sh || return 1
    bash scripts/windows-cli-test.sh "${MIRKA_LINUX_BUILD:-build-normal}" \
        "${MIRKA_WINDOWS_BUILD:-build-windows}"
}
export -f leg
export prefix
leg_started=$(date +%s)
timeout --kill-after=20 "$left" bash -c leg
status=$?
leg_ended=$(date +%s)
echo "=== windows leg: $((leg_ended - leg_started)) s (load $(cut -d' ' -f1-3 /proc/loadavg))"
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    skip "stopped at CI's limit of $(minutes $limit) after $(minutes $((leg_ended - leg_started)))" \
        "(the estimate was $(minutes $((build_estimate + test_estimate))))"
fi
exit $status

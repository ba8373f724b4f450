#!/usr/bin/env bash
# Generates the Japanese Shift_JIS locale ja_JP.SJIS, which the tests of the narrow-text code
# use to check double-byte handling, when it is missing. Generating a locale needs root (or
# sudo without a password); when that or localedef is not available this says so and exits
# 0, and the tests that need the locale skip themselves.
set -u

name=ja_JP.SJIS

have_locale() {
    locale -a 2>/dev/null | grep -qiE '^ja_JP\.(sjis|shiftjis|shift_jis)$'
}

have_locale && exit 0

if ! command -v localedef >/dev/null 2>&1; then
    echo "install-locales: localedef not found (package locales); $name not generated" >&2
    exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        sudo_cmd=(sudo -n)
    else
        echo "install-locales: root needed to generate $name; skipped" >&2
        exit 0
    fi
fi

# Shift_JIS is not ASCII-compatible in two code points (backslash and tilde), which
# localedef treats as a warning and then refuses to write; the warning is expected here.
# A directory outside the archive survives a later locale-gen, which rebuilds the archive.
if ! "${sudo_cmd[@]}" localedef --no-archive --no-warnings=ascii -f SHIFT_JIS -i ja_JP "$name" \
    2>/dev/null; then
    # Older localedef without --no-warnings: force the output past the warning.
    "${sudo_cmd[@]}" localedef --no-archive -c -f SHIFT_JIS -i ja_JP "$name" 2>/dev/null || true
fi

if have_locale; then
    echo "install-locales: generated $name"
else
    echo "install-locales: could not generate $name" >&2
fi
exit 0

#!/usr/bin/env bash
# Fails when a C++ file of the tree differs from .clang-format (clang-format 14, as on
# Debian 12). `scripts/check-format.sh --fix` rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    "$format" -i "${files[@]}"
else
    "$format" --dry-run -Werror "${files[@]}"
fi

#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from the repository's .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' '*.c' '*.hpp' 2>/dev/null || true)
[ -z "$files" ] && exit 0
bad=0
for f in $files; do
    if ! clang-format --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
        echo "not formatted: $f"
        bad=1
    fi
done
exit $bad

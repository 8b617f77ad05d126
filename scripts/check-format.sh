#!/usr/bin/env bash
# Fails when a tracked C++ source is not formatted as .clang-format says, and
# names the first place in each such file.
# Fix with: git ls-files '*.cpp' '*.h' | xargs clang-format-14 -i
set -uo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format) || {
    echo "clang-format not found" >&2
    exit 1
}
if ! out=$(git ls-files -z '*.cpp' '*.h' | xargs -0 -n 50 "$format" --dry-run --Werror --ferror-limit=1 2>&1); then
    grep -E 'error: code should be clang-formatted' <<<"$out" | sed 's/ error: code should be clang-formatted.*/ not formatted/'
    echo "clang-format: $(grep -c 'error: code should' <<<"$out") file(s) not formatted (fix: xargs clang-format-14 -i on them)" >&2
    exit 1
fi
echo "clang-format: all $(git ls-files '*.cpp' '*.h' | wc -l) sources formatted"

#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format makes of it,
# and names those files. Skips (77) outside a git checkout or without
# clang-format, except in CI, where both must be there.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
skip() {
    echo "format check: $1"
    [[ ${CI:-} == true ]] && exit 1
    exit 77
}
command -v clang-format >/dev/null || skip "clang-format is not installed"
files=$(git -C "$top" ls-files '*.cpp' '*.h' 2>/dev/null) || skip "not a git checkout"
cd "$top"
# One run over all files; its warnings start with the file's name. Without
# --Werror, clang-format fails only when it cannot do its work at all.
out=$(xargs -d '\n' clang-format --dry-run <<<"$files" 2>&1) || {
    echo "$out" | tail -20
    echo "format check: clang-format failed"
    exit 1
}
mapfile -t bad < <(grep -oE '^[^: ]+\.(cpp|h):' <<<"$out" | tr -d ':' | sort -u)
if ((${#bad[@]})); then
    echo "not formatted with the repository's .clang-format (run clang-format -i on them):"
    printf '  %s\n' "${bad[@]}"
    exit 1
fi
echo "format check: every tracked C++ file is formatted"

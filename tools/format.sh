#!/usr/bin/env bash
# Applies .clang-format to every C++ file in the repository; with --check, changes nothing and fails when a
# file is not formatted (what CI runs).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
command -v clang-format >/dev/null || "$top/tools/install-deps.sh" clang-format
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
    if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/corvantle-format.$$; then
        grep -E '^[^ ].*: (error|warning):' /tmp/corvantle-format.$$ | cut -d: -f1 | sort -u |
            sed 's/^/not formatted: /' >&2
        rm -f /tmp/corvantle-format.$$
        echo "Run tools/format.sh to format them." >&2
        exit 1
    fi
    rm -f /tmp/corvantle-format.$$
    echo "All ${#files[@]} C++ files are formatted."
else
    clang-format -i "${files[@]}"
fi

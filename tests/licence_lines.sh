#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Every source file says its licence in its first lines (after a script's #! line), so a file
# taken out of the tree still carries it.
#   licence_lines.sh SOURCE_DIR
set -euo pipefail
cd "$1"
if [ -d .git ] || [ -f .git ]; then
    files=$(git ls-files)
else
    files=$(find . -path ./build -prune -o -type f -print | sed 's|^\./||')
fi
missing=0
while IFS= read -r f; do
    case "$f" in
        *.cpp | *.h | *.sh | *.py | *.cmake | */CMakeLists.txt | CMakeLists.txt | .ci/run) ;;
        *) continue ;;
    esac
    [ -f "$f" ] || continue
    if ! head -n 3 "$f" | grep -q 'SPDX-License-Identifier: MIT'; then
        echo "no licence line: $f"
        missing=$((missing + 1))
    fi
done <<<"$files"
[ "$missing" -eq 0 ] || exit 1
echo "every source file carries its licence line"

#!/usr/bin/env bash
# Checks the formatting (.clang-format) of the C and C++ files changed since
# the last commit that touched .clang-format: that commit formatted the tree
# or set the rules, so every file changed after it must follow them, and a
# file nobody touched cannot fail the check. Works in a clean clone; in a
# shallow one without that commit, it checks the files of the newest commit.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
ensure_packages clang-format

base=$(git log -1 --format=%H -- .clang-format 2>/dev/null || true)
if [ -n "$base" ] && git cat-file -e "$base^{commit}" 2>/dev/null; then
  changed=$(git diff --name-only --diff-filter=d "$base" -- '*.c' '*.cpp' '*.h')
else
  changed=$(git diff --name-only --diff-filter=d HEAD~1 -- '*.c' '*.cpp' '*.h' 2>/dev/null || true)
fi
# Files not yet committed count as changed too.
changed=$(printf '%s\n%s\n' "$changed" "$(git ls-files --others --exclude-standard -- '*.c' '*.cpp' '*.h')" |
          sed '/^$/d' | sort -u)
if [ -z "$changed" ]; then
  echo "formatting: no C or C++ file changed since the rules were set"
  exit 0
fi
# A file that did not follow the rules at that commit either has not been
# formatted yet (the tree is formatted in a commit of its own); it is left
# out rather than failing a change that did not cause it.
checked=()
for file in $changed; do
  if [ -n "$base" ] && git cat-file -e "$base:$file" 2>/dev/null &&
     ! git show "$base:$file" | clang-format --dry-run -Werror --assume-filename="$file" >/dev/null 2>&1; then
    continue
  fi
  checked+=("$file")
done
count=${#checked[@]}
if [ "$count" -eq 0 ]; then
  echo "formatting: no changed C or C++ file was formatted before; nothing to check"
  exit 0
fi
if ! clang-format --dry-run -Werror "${checked[@]}"; then
  echo "formatting: run clang-format -i on the files above (rules in .clang-format)" >&2
  exit 1
fi
echo "formatting: $count changed C and C++ files follow .clang-format"

#!/usr/bin/env bash
# The shared library exports exactly the functions of the list of exports
# (src/exports.def.h): the 24 API functions, and for the simulator its
# OmbrixSim* control functions as well; no C++ symbol leaks.
#   check_exports.sh EXPORTS_DEF_H LIBRARY sim|real
set -euo pipefail
list=$1
library=$2
variant=$3
kinds=API
[ "$variant" = sim ] && kinds='API|SIM'
expected=$(sed -nE "s/^OMBRIX_($kinds)_EXPORT\(([A-Za-z]+), [0-9]+\)$/\2/p" "$list" | sort)
[ -n "$expected" ] || { echo "no entries read from $list"; exit 1; }
exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwVvDdBbRr]$/ {print $3}' | sort)
missing=$(comm -23 <(echo "$expected") <(echo "$exported"))
others=$(comm -13 <(echo "$expected") <(echo "$exported"))
[ -n "$missing" ] && { echo "missing exports:"; echo "$missing"; }
[ -n "$others" ] && { echo "unexpected exports:"; echo "$others"; }
[ -z "$missing$others" ] || exit 1
echo "exports of $(basename "$library"): $(wc -l <<<"$exported") names, as expected"

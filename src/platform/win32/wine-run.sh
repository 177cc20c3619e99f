#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine with the loader of its word
# size:
#   wine-run.sh 32|64 PROGRAM [ARGUMENTS...]
# It is the emulator that CMake and CTest use, and the one way the scripts
# call Wine. Debian's /usr/bin/wine always picks the 32-bit loader once
# wine32 is installed, which fails for every program on a kernel that cannot
# execute i386 code; the loaders are therefore called directly.
#
# The project's own prefix is used (created on first use, 64-bit, so that
# it serves both word sizes), quietly, instead of ~/.wine.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bits="${1:-}"
case "$bits" in
  32) loader=/usr/lib/wine/wine ;;
  64) loader=/usr/lib/wine/wine64 ;;
  *) echo "usage: wine-run.sh 32|64 PROGRAM [ARGUMENTS...]" >&2; exit 2 ;;
esac
shift
if [ ! -x "$loader" ]; then
  echo "wine-run.sh: $loader is missing: install the $( [ "$bits" = 32 ] && echo 'wine32:i386' || echo wine64) package" >&2
  exit 127
fi

export WINEPREFIX="${WINEPREFIX:-$here/../../../build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$WINEPREFIX"

# A prefix is made by the 64-bit loader: one made by the 32-bit loader
# could never run 64-bit programs. CTest runs programs in parallel, so only
# one of them makes it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
      /usr/lib/wine/wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi

exec "$loader" "$@"

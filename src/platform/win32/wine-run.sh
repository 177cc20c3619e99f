#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine: the emulator that CMake and
# CTest use for test discovery and test runs. Outside the Wine tier (a
# plain `cmake --build --preset win64`, say) it still keeps to the project's
# own prefix and stays quiet, instead of creating ~/.wine.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-$here/../../../build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$WINEPREFIX"
exec wine "$@"

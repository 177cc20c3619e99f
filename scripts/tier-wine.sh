#!/usr/bin/env bash
# Windows tier: cross-builds Ombrix_USB.dll, the simulator DLL and the test
# suite for 32- and 64-bit Windows with MinGW-w64, checks each DLL's export
# and import tables, and runs the suites under Wine. The simulator suite
# runs there over the Win32 OS half; the Win32 tests check the backends on
# real kernel objects and the DLL as an application loads it.
#
# 64-bit always runs. 32-bit is always built and its tables checked; its
# programs run only where this kernel executes i386 code and 32-bit Wine
# could be installed, and elsewhere the tier says SKIPPED for them.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_i386_architecture
ensure_packages g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 googletest

ensure_wine32

decide_32bit_runs
# With 32-bit Wine installed, the device tier's guest runs them instead.
[ "$RUNS32" = yes ] || [ -n "$WINE32_MISSING" ] || WHY32="$WHY32 (the Windows device tier runs them in its QEMU guest)"

start_wine_for_tier
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT

# The DLL's export table: exactly the expected number of plain names.
check_exports() {
  local objdump=$1 dll=$2 expected=$3
  local names count
  names=$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && NF==0{on=0} on{print $NF}')
  count=$(printf '%s\n' "$names" | grep -c .)
  if [ "$count" -ne "$expected" ] || printf '%s\n' "$names" | grep -q '@'; then
    echo "unexpected export table of $dll ($count names, $expected expected):" >&2
    printf '%s\n' "$names" >&2
    return 1
  fi
  echo "$dll exports $count plain names"
}

for target in "win64 mingw-x86_64.cmake x86_64-w64-mingw32 64" "win32 mingw-i686.cmake i686-w64-mingw32 32"; do
  set -- $target
  preset=$1 toolchain=$2 triple=$3 bits=$4
  build_gtest "$preset" "$toolchain"
  step "Windows build: $preset"
  quietly cmake --preset "$preset"
  cmake --build --preset "$preset" -j 2
  sim_exports=$(( 24 + $(grep -c '^OMBRIX_API' include/ombrix_usb_sim.h) ))
  check_exports "$triple-objdump" "build/$preset/Ombrix_USB.dll" 24
  check_exports "$triple-objdump" "build/$preset/Ombrix_USB_Sim.dll" "$sim_exports"
  # System DLLs only, so it loads on any Windows without a runtime beside it.
  check_imports "$triple-objdump" "build/$preset/Ombrix_USB.dll" hid kernel32 msvcrt setupapi user32 winmm
  if [ "$bits" = 32 ] && [ "$RUNS32" = no ]; then
    skipped "32-bit Windows tests on the host: $WHY32"
    continue
  fi
  step "Windows tests under Wine: $preset"
  # The tool's tests have a tier of their own (tier-windows-tool.sh).
  ctest --preset "$preset" -j 2 --timeout 600 -LE windows-tool
done

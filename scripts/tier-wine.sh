#!/usr/bin/env bash
# Windows tier: cross-builds Ombrix_USB.dll, the simulator DLL and the test
# suite for 32- and 64-bit Windows with MinGW-w64, checks each DLL's export
# and import tables, and runs the suites under Wine. The simulator suite
# runs there over the Win32 OS half; the Win32 tests check the backends on
# real kernel objects and the DLL as an application loads it.
#
# 64-bit always runs. 32-bit is always built and its tables checked; its
# programs run only where this kernel executes i386 code, and elsewhere the
# tier says SKIPPED for them.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

# 32-bit Wine comes from the i386 architecture; it is installed on every
# machine (its files serve guests too), whether or not this kernel runs it.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  unset OMBRIX_APT_UPDATED
fi
ensure_packages g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 googletest

runs32=no
host_runs_i386 && runs32=yes

export WINEPREFIX="${OMBRIX_WINEPREFIX:-$PWD/build/wine-prefix}"
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  step "creating the Wine prefix"
  started=$SECONDS
  wine_run 64 cmd /c exit >/dev/null 2>&1
  echo "made $WINEPREFIX ($((SECONDS - started)) s)"
fi
# One server for the whole tier instead of one per test program.
/usr/lib/wine/wineserver -p 2>/dev/null || true  # one already running serves as well
# Start Wine's services once, alone: two first programs at once can hang.
wine_run 64 cmd /c exit >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT

# GoogleTest cross-built from Debian's sources, once per word size.
build_gtest() {
  local preset=$1 toolchain=$2 dir="build/gtest-$1"
  [ -f "$dir/prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  step "GoogleTest for $preset"
  quietly cmake -S /usr/src/googletest -B "$dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/src/platform/win32/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PWD/$dir/prefix" -Dgtest_disable_pthreads=ON
  quietly cmake --build "$dir/build" -j 2
  quietly cmake --install "$dir/build"
}

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

# The DLL's imports: system DLLs only, so it loads on any Windows without a
# runtime beside it.
check_imports() {
  local objdump=$1 dll=$2 name
  local allowed=" hid.dll kernel32.dll msvcrt.dll setupapi.dll user32.dll winmm.dll "
  local imports
  imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for name in $imports; do
    if [[ "$allowed" != *" $name "* ]]; then
      echo "$dll imports $name, which is not a system DLL it may use:" >&2
      printf '%s\n' "$imports" >&2
      return 1
    fi
  done
  echo "$dll imports only $(echo $imports)"
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
  check_imports "$triple-objdump" "build/$preset/Ombrix_USB.dll"
  if [ "$bits" = 32 ] && [ "$runs32" = no ]; then
    skipped "32-bit Windows tests: this kernel cannot execute 32-bit x86 code"
    continue
  fi
  step "Windows tests under Wine: $preset"
  ctest --preset "$preset" -j 2 --timeout 600
done

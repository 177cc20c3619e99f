#!/usr/bin/env bash
# Windows tier: cross-builds Ombrix_USB.dll and the test suite for 32- and
# 64-bit Windows with MinGW-w64 and runs them under Wine. The simulator
# suite runs there over the Win32 OS half; the Win32 tests check the
# backends on real kernel objects and the DLL's module name and exports.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  step "adding the i386 architecture for 32-bit Wine"
  dpkg --add-architecture i386
  unset OMBRIX_APT_UPDATED
fi
ensure_packages g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 googletest

export WINEPREFIX="${OMBRIX_WINEPREFIX:-$PWD/build/wine-prefix}"
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  step "creating the Wine prefix"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# One server for the whole tier instead of one per test program.
wineserver -p 2>/dev/null || true  # one already running serves as well
# Start Wine's services once, alone: two first programs at once can hang.
wine cmd /c exit >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# GoogleTest cross-built from Debian's sources, once per word size.
build_gtest() {
  local preset=$1 toolchain=$2 dir="build/gtest-$1"
  [ -f "$dir/prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  step "GoogleTest for $preset"
  cmake -S /usr/src/googletest -B "$dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/src/platform/win32/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PWD/$dir/prefix" -Dgtest_disable_pthreads=ON >/dev/null
  cmake --build "$dir/build" -j 2 >/dev/null
  cmake --install "$dir/build" >/dev/null
}

# The DLL's export table: the 24 plain names and nothing else.
check_exports() {
  local objdump=$1 dll=$2
  local names
  names=$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && NF==0{on=0} on{print $NF}')
  local count
  count=$(printf '%s\n' "$names" | grep -c .)
  if [ "$count" -ne 24 ] || printf '%s\n' "$names" | grep -q '@'; then
    echo "unexpected export table of $dll:" >&2
    printf '%s\n' "$names" >&2
    return 1
  fi
  echo "$dll exports the 24 plain names"
}

for target in "win32 mingw-i686.cmake i686-w64-mingw32" "win64 mingw-x86_64.cmake x86_64-w64-mingw32"; do
  set -- $target
  preset=$1 toolchain=$2 triple=$3
  build_gtest "$preset" "$toolchain"
  step "Windows build and tests: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
  check_exports "$triple-objdump" "build/$preset/Ombrix_USB.dll"
  ctest --preset "$preset" -j 2 --timeout 600
done

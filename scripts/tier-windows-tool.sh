#!/usr/bin/env bash
# Windows tool tier: ombrix.exe cross-built with MinGW-w64 for 64- and
# 32-bit Windows, its imports checked, its tests run under Wine with the
# simulator DLL (the command line as the Linux tool's tests expect it, the
# sentence for a missing DLL, name-based CIDs from the system's SHA-1), and
# the bridge under Wine driven by the native npm peers over loopback with
# tshark watching (apps/bridge/tests/interop/run.sh, as for the Linux tool).
# Ends with the Windows package, a zip of both word sizes.
#
# 64-bit always runs. 32-bit is always built and checked; its programs run
# only where this kernel executes i386 code and 32-bit Wine could be
# installed, elsewhere the tier says SKIPPED.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_i386_architecture
ensure_packages g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 googletest \
  libcli11-dev libasio-dev libtomlplusplus-dev nlohmann-json3-dev tshark nodejs zip
command -v npm >/dev/null || ensure_packages npm

ensure_wine32

decide_32bit_runs

start_wine_for_tier
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT

# What ombrix.exe may import besides nothing: Windows' own DLLs.
tool_imports=(kernel32 msvcrt ws2_32 mswsock iphlpapi bcrypt advapi32 user32)

for target in "win64 mingw-x86_64.cmake x86_64-w64-mingw32 64" "win32 mingw-i686.cmake i686-w64-mingw32 32"; do
  set -- $target
  preset=$1 toolchain=$2 triple=$3 bits=$4
  build_gtest "$preset" "$toolchain"
  step "Windows tool build: $preset"
  quietly cmake --preset "$preset"
  cmake --build --preset "$preset" -j 2 --target ombrix windows_tool_test windows_console_test Ombrix_USB ombrix_usb_sim
  check_imports "$triple-objdump" "build/$preset/ombrix.exe" "${tool_imports[@]}"
  if [ "$bits" = 32 ] && [ "$RUNS32" = no ]; then
    skipped "32-bit Windows tool tests: $WHY32"
    continue
  fi
  step "Windows tool tests under Wine: $preset"
  ctest --preset "$preset" -j 2 --timeout 600 -L windows-tool
  bash apps/bridge/tests/interop/run.sh --label "Windows bridge interop ($bits-bit)" --stop-signal INT \
    -- src/platform/win32/wine-run.sh "$bits" "build/$preset/ombrix.exe"
done

step "Windows package"
zip_file=$(bash scripts/windows-package.sh)
listing=$(python3 -m zipfile -l "$zip_file")
for arch in x64 x86; do
  for file in bin/ombrix.exe bin/Ombrix_USB.dll bin/Ombrix_USB_Sim.dll lib/libOmbrix_USB.dll.a lib/Ombrix_USB.def; do
    grep -q "/$arch/$file " <<<"$listing" || { echo "$zip_file lacks $arch/$file" >&2; exit 1; }
  done
done
for file in include/ombrix_usb.h docs/windows.md; do
  grep -q "/$file " <<<"$listing" || { echo "$zip_file lacks $file" >&2; exit 1; }
done
echo "$zip_file: $(grep -c . <<<"$listing") entries, $(($(stat -c %s "$zip_file") / 1024)) KiB"

#!/usr/bin/env bash
# The Windows package: one zip with both word sizes, from the win64 and
# win32 builds (made by scripts/tier-windows-tool.sh, or by
# `cmake --build --preset win64` and `--preset win32`):
#   scripts/windows-package.sh [OUTPUT_DIRECTORY]     (default: build/package)
#
#   ombrix-usb-VERSION-windows/
#     include/        ombrix_usb.h, ombrix_usb_sim.h
#     x64/, x86/      bin/ Ombrix_USB.dll, Ombrix_USB_Sim.dll, ombrix.exe
#                     lib/ import libraries (MinGW .dll.a) and the .def files,
#                          from which other toolchains make theirs (lib /def:)
#     docs/           README.md, windows.md, bridge.md, cli.md
#
# The programs are stripped of their debugging information, which would
# make ombrix.exe ten times its size. Prints the path of the zip.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

out="${1:-build/package}"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win64/CMakeCache.txt 2>/dev/null || true)
[ -n "$version" ] || { echo "windows-package.sh: build/win64 is not configured" >&2; exit 1; }
name="ombrix-usb-$version-windows"
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/include" "$stage/docs"
cp include/ombrix_usb.h include/ombrix_usb_sim.h "$stage/include/"
cp README.md docs/windows.md docs/bridge.md docs/cli.md "$stage/docs/"

for target in "win64 x64 x86_64-w64-mingw32" "win32 x86 i686-w64-mingw32"; do
  set -- $target
  build="build/$1" arch=$2 triple=$3
  mkdir -p "$stage/$arch/bin" "$stage/$arch/lib"
  for file in Ombrix_USB.dll Ombrix_USB_Sim.dll ombrix.exe libOmbrix_USB.dll.a libOmbrix_USB_Sim.dll.a \
              Ombrix_USB.def Ombrix_USB_Sim.def; do
    [ -f "$build/$file" ] || { echo "windows-package.sh: $build/$file is missing; build $1 first" >&2; exit 1; }
  done
  for file in Ombrix_USB.dll Ombrix_USB_Sim.dll ombrix.exe; do
    "$triple-strip" --strip-debug -o "$stage/$arch/bin/$file" "$build/$file"
  done
  cp "$build"/libOmbrix_USB.dll.a "$build"/libOmbrix_USB_Sim.dll.a "$build"/Ombrix_USB.def \
     "$build"/Ombrix_USB_Sim.def "$stage/$arch/lib/"
done

# The time of the last commit on every file, so that the same sources give
# the same zip.
stamp="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}"
find "$stage" -exec touch -d "@$stamp" {} +
(cd "$out" && rm -f "$name.zip" && TZ=UTC zip -q -X -r "$name.zip" "$name")
rm -rf "$stage"
echo "$out/$name.zip"

#!/usr/bin/env bash
# Install-tree tier: installs the default build into a scratch prefix, then
# builds two tiny C consumers against that tree only, one through
# find_package(OmbrixUSB) and one through pkg-config, runs them on the
# simulator library, and runs the installed tool. Fails on any step.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

# OMBRIX_INSTALL_BUILD_DIR installs an already configured build instead of
# the default preset's.
build="${OMBRIX_INSTALL_BUILD_DIR:-build/default}"
step "install-tree: build $build and install it into a scratch prefix"
if [ -z "${OMBRIX_INSTALL_BUILD_DIR:-}" ]; then
  cmake --preset default >/dev/null
fi
# Only what is installed needs building here; the test tiers build the rest.
targets=(ombrix_usb_sim ombrix)
if cmake --build "$build" --target help | grep -q '^ombrix_usb:'; then targets+=(ombrix_usb); fi
cmake --build "$build" -j 2 --target "${targets[@]}" >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir="$(dirname "$(find "$prefix" -name 'libombrix_usb_sim.so.0' | head -n 1)")"
[ -n "$libdir" ] || { echo "install-tree: libombrix_usb_sim.so.0 was not installed" >&2; exit 1; }

step "install-tree: consumer with find_package(OmbrixUSB)"
cmake -S tests/install -B "$scratch/cmake-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake-consumer" >/dev/null
LD_LIBRARY_PATH="$libdir" "$scratch/cmake-consumer/consumer"
if [ -x "$scratch/cmake-consumer/consumer_real_link" ]; then
  LD_LIBRARY_PATH="$libdir" "$scratch/cmake-consumer/consumer_real_link"
fi

step "install-tree: consumer with pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -std=c11 -o "$scratch/pc-consumer" tests/install/consumer.c $(pkg-config --cflags --libs ombrix_usb_sim)
LD_LIBRARY_PATH="$libdir" "$scratch/pc-consumer"
if pkg-config --exists ombrix_usb; then
  # shellcheck disable=SC2046
  cc -std=c11 -o "$scratch/pc-real" tests/install/real_link.c $(pkg-config --cflags --libs ombrix_usb)
  LD_LIBRARY_PATH="$libdir" "$scratch/pc-real"
fi

step "install-tree: the installed tool finds its library"
"$prefix/bin/ombrix" --sim list | grep -q '^SIM0000000000001 ' || { echo "install-tree: ombrix --sim list failed" >&2; exit 1; }
# Nothing may point back into the build tree.
if grep -rIl "$(pwd)/build" "$prefix" >/dev/null 2>&1; then
  echo "install-tree: installed files refer to the build tree:" >&2
  grep -rIl "$(pwd)/build" "$prefix" >&2
  exit 1
fi
step "install-tree: passed"

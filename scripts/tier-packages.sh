#!/usr/bin/env bash
# Debian packages tier: builds the five .deb packages with CPack from the
# install rules (Debian's hardening build flags, prefix /usr), checks their
# contents and dependencies, runs lintian on them (an error fails the tier,
# warnings are printed), then installs them with dpkg -i into a clean
# Debian 12 root made by debootstrap (cached under build/) and runs
# `ombrix --sim list` and the Python module there. Purges them afterwards, so
# the cached root stays clean.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_build_packages
ensure_packages dpkg-dev file lintian debootstrap

build=build/packages
debs="$build/debs"
root=build/debian12-root
packages=(libombrix-usb0 libombrix-usb-sim0 libombrix-usb-dev ombrix-tools python3-ombrix-usb)

step "packages: build with CPack"
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
quietly cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DOMBRIX_BUILD_TESTS=OFF -DOMBRIX_PACKAGE_DEBIAN=ON \
  -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)"
quietly cmake --build "$build" -j 2
rm -rf "$debs"
quietly cpack -G DEB --config "$build/CPackConfig.cmake" -B "$PWD/$debs"

deb_of() { ls "$debs/$1"_*.deb; }

# expect_files <package> <path>...: the package holds each path.
expect_files() {
  local package="$1" listing
  shift
  listing="$(dpkg-deb --contents "$(deb_of "$package")" | awk '{print $6}')"
  for path in "$@"; do
    grep -qx "./$path" <<<"$listing" || { echo "packages: $package lacks /$path" >&2; exit 1; }
  done
}

step "packages: contents and dependencies"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
lib="usr/lib/$multiarch"
expect_files libombrix-usb0 "$lib/libombrix_usb.so.0.1.0" usr/lib/udev/rules.d/70-ombrix-usb.rules
expect_files libombrix-usb-sim0 "$lib/libombrix_usb_sim.so.0.1.0"
expect_files libombrix-usb-dev usr/include/ombrix_usb.h usr/include/ombrix_usb_sim.h "$lib/libombrix_usb.so" \
  "$lib/pkgconfig/ombrix_usb.pc" "$lib/cmake/OmbrixUSB/OmbrixUSBConfig.cmake"
expect_files ombrix-tools usr/bin/ombrix usr/share/man/man1/ombrix.1.gz
expect_files python3-ombrix-usb usr/lib/python3/dist-packages/ombrix_usb/__init__.py \
  usr/lib/python3/dist-packages/ombrix_usb/py.typed
for package in "${packages[@]}"; do
  expect_files "$package" "usr/share/doc/$package/copyright"
  printf '%-20s %s\n' "$package" "$(dpkg-deb --field "$(deb_of "$package")" Depends)"
done
# A package per known group and nothing else: a stray component would make
# a sixth package that nobody installs.
[ "$(ls "$debs"/*.deb | wc -l)" -eq ${#packages[@]} ] || { ls "$debs" >&2; echo "packages: unexpected packages" >&2; exit 1; }
# The listing is taken whole first: with pipefail, grep -q ending the pipe
# early would fail tar with SIGPIPE and the check with it.
control="$(dpkg-deb --ctrl-tarfile "$(deb_of libombrix-usb0)" | tar t)"
grep -qx './triggers' <<<"$control" \
  || { echo "packages: libombrix-usb0 does not activate the ldconfig trigger" >&2; exit 1; }

step "packages: lintian"
lintian_log="$build/lintian.log"
lintian --tag-display-limit 0 "$debs"/*.deb >"$lintian_log" 2>&1 || true
grep -v 'running with root privileges' "$lintian_log" || true
if grep -q '^E: ' "$lintian_log"; then
  echo "packages: lintian reports errors" >&2
  exit 1
fi

if [ "$(id -u)" -ne 0 ]; then
  skipped "packages: installing into a Debian 12 root (debootstrap, chroot) needs root"
  exit 0
fi

step "packages: clean Debian 12 root"
if [ ! -f "$root/.ombrix-root-ready" ]; then
  # The mirror apt is configured with; debootstrap takes one to two minutes
  # and the root is kept for later runs.
  mirror="$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '($1 == "URIs:" || $1 == "deb") { for (i = 2; i <= NF; i++) if ($i ~ /^https?:\/\/.*\/debian\/?$/) { print $i; exit } }' ||
    true)"
  mirror="${mirror:-http://deb.debian.org/debian}"
  rm -rf "$root.partial"
  echo "debootstrap bookworm from $mirror (about 1.5 min; kept in $root)"
  quietly debootstrap --variant=minbase --include=python3,libudev1 bookworm "$root.partial" "$mirror"
  rm -rf "$root"
  mv "$root.partial" "$root"
  touch "$root/.ombrix-root-ready"
fi

in_root() { chroot "$root" "$@"; }
purge() { in_root dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true; rm -rf "$root/tmp/ombrix-debs"; }
purge
trap purge EXIT
mkdir -p "$root/tmp/ombrix-debs"
cp "$debs"/*.deb "$root/tmp/ombrix-debs/"

step "packages: dpkg -i in the root"
# dpkg -i installs our packages as a user would; the libraries they depend
# on from Debian (toml++, libuuid, cpp-httplib for the tool) are not in a
# minimal root, so dpkg leaves those packages unconfigured and apt brings
# the dependencies, exactly as `apt-get -f install` does after `dpkg -i` on
# any Debian machine.
if ! in_root sh -c 'dpkg -i /tmp/ombrix-debs/*.deb' >>"$OMBRIX_SETUP_LOG" 2>&1; then
  echo "dpkg -i left packages waiting for their Debian dependencies; apt-get -f install brings them"
  cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
  quietly in_root apt-get update -q
  quietly in_root env DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q --no-install-recommends
fi
for package in "${packages[@]}"; do
  in_root dpkg-query -W -f='${Status}\n' "$package" | grep -qx 'install ok installed' \
    || { echo "packages: $package is not installed" >&2; exit 1; }
done

step "packages: ombrix --sim list"
in_root ombrix --sim list | tee "$build/sim-list.txt"
grep -q '^SIM0000000000001 ' "$build/sim-list.txt" || { echo "packages: ombrix --sim list failed" >&2; exit 1; }

step "packages: the Python module with the system's python3"
in_root python3 -c 'import ombrix_usb'
in_root python3 -c '
import ombrix_usb as o
o.sim.add("DEBIAN0000000001")
with o.open("DEBIAN0000000001") as link:
    link.mode = 2
print(o.library_path(), o.interfaces())
'

step "packages: purge leaves nothing behind"
in_root dpkg --purge "${packages[@]}" >/dev/null
leftover="$(cd "$root" && ls -d usr/lib/python3/dist-packages/ombrix_usb "usr/lib/$multiarch"/libombrix* \
  usr/bin/ombrix usr/lib/udev/rules.d/70-ombrix-usb.rules 2>/dev/null || true)"
[ -z "$leftover" ] || { echo "packages: left after purge: $leftover" >&2; exit 1; }
step "packages: passed"

#!/usr/bin/env bash
# The Linux hidraw tier: boots the distribution kernel in QEMU (software
# emulation) with an initramfs holding busybox, the hid, uhid and
# hid-generic modules and the guest test program, which creates virtual
# HID devices through /dev/uhid and drives them through libombrix_usb.so
# on real kernel hidraw nodes. The guest's results come back over the
# serial console. Prints SKIPPED (exit 0) only when QEMU cannot run at all.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
source scripts/guest-lib.sh

ensure_packages qemu-system-x86 linux-image-amd64 busybox-static cpio libudev-dev pkg-config \
  cmake ninja-build g++ libgtest-dev

if ! qemu-system-x86_64 -version >/dev/null 2>&1; then
  skipped "hidraw tier: qemu-system-x86_64 cannot run here"
  exit 0
fi

build=build/hidraw-tier
root=$build/initramfs
log=$build/guest.log

step "hidraw tier: building the guest program"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j 2 --target ombrix_usb hidraw_guest_test

guest_find_kernel
kernel=$guest_kernel

step "hidraw tier: initramfs for kernel ${kernel#/boot/vmlinuz-}"
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,opt/ombrix,lib64,lib/x86_64-linux-gnu}
cp /bin/busybox "$root/bin/busybox"
guest_add_modules "$root" hid uhid hid-generic

# The test program, the library and every shared library they need.
guest=$build/tests/hidraw/hidraw_guest_test
cp "$guest" "$root/opt/ombrix/"
cp -L "$build"/libombrix_usb.so.0 "$root/opt/ombrix/"
for binary in "$guest" "$build"/libombrix_usb.so.0; do
  ldd "$binary" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\/lib64\// {print $1}'
done | sort -u | while read -r library; do
  case "$library" in
    */ld-linux-x86-64.so.2) cp -L "$library" "$root/lib64/" ;;
    */libombrix_usb.so*) ;;
    *) cp -L "$library" "$root/lib/x86_64-linux-gnu/" ;;
  esac
done

{
  echo '#!/bin/busybox sh'
  echo '/bin/busybox --install -s /bin'
  echo 'mount -t proc proc /proc; mount -t sysfs sysfs /sys; mount -t devtmpfs devtmpfs /dev'
  guest_insmod_lines
  echo 'echo OMBRIX-GUEST-START'
  echo 'LD_LIBRARY_PATH=/opt/ombrix:/lib/x86_64-linux-gnu /opt/ombrix/hidraw_guest_test'
  echo 'echo "OMBRIX-GUEST-EXIT: $?"'
  echo 'reboot -f'
} >"$root/init"
chmod +x "$root/init"
guest_pack_initramfs "$root" "$build/initramfs.cpio.gz"

step "hidraw tier: booting the guest"
# Software emulation throughout: nested KVM is not dependable on CI hosts
# (it can hang at boot), and TCG boots this guest in about 10 s.
accel=tcg
set +e
timeout 300 qemu-system-x86_64 -machine "accel=$accel" -m 512 -smp 2 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$build/initramfs.cpio.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" </dev/null | tr -d '\r' | tee "$log"
qemu_status=${PIPESTATUS[0]}
set -e

if ! grep -q 'OMBRIX-GUEST-START' "$log"; then
  echo "hidraw tier FAILED: the guest did not start its tests (qemu status $qemu_status)" >&2
  exit 1
fi
result=$(sed -n 's/^OMBRIX-GUEST-EXIT: \([0-9]*\).*/\1/p' "$log" | tail -n 1)
if [ "$result" != "0" ]; then
  echo "hidraw tier FAILED: guest tests exit status '${result:-none}' (qemu status $qemu_status)" >&2
  exit 1
fi
echo "hidraw tier passed"

#!/usr/bin/env bash
# The Windows device tier: Ombrix_USB.dll, 64- and 32-bit, against virtual
# HID devices through Wine's own HID stack (setupapi, hid.dll, hidclass,
# winebus.sys over the kernel's hidraw nodes). Boots the distribution
# kernel in QEMU with the host's root shared read-only and the work folder
# writable, creates uhid devices, and runs the cross-built device tests
# under Wine in the guest; the devices are scripted from the guest side by
# a Linux server the tests talk to through files. Where the host kernel
# cannot execute i386 code the guest runs the 32-bit simulator suite too,
# so 32-bit is tested on every machine.
#
# OMBRIX_ASSUME_NO_I386=1 takes the path of a host that cannot run i386.
# Prints SKIPPED (exit 0) only when QEMU cannot run at all.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
source scripts/guest-lib.sh

ensure_i386_architecture
ensure_packages qemu-system-x86 linux-image-amd64 busybox-static cpio wine wine64 \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix cmake ninja-build g++ googletest libudev-dev pkg-config

if ! qemu-system-x86_64 -version >/dev/null 2>&1; then
  skipped "Windows device tier: qemu-system-x86_64 cannot run here"
  exit 0
fi

build=build/wine-hid-tier
mkdir -p "$build"

ensure_wine32
# Where this kernel cannot execute i386 code, the prefix is made in the
# guest and the guest runs the 32-bit simulator suite as well. Without
# 32-bit Wine at all, the host makes a 64-bit prefix and the guest runs the
# 64-bit device tests only.
if host_runs_i386 || [ -n "$WINE32_MISSING" ]; then host_i386=1; else host_i386=0; fi
if [ -n "$WINE32_MISSING" ]; then
  export OMBRIX_NO_WINE32=1
  skipped "32-bit Windows device tests in the guest: $WINE32_MISSING"
fi

step "Windows device tier: building"
quietly cmake -S . -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRIX_BUILD_TOOLS=OFF
cmake --build "$build/native" -j 2 --target uhid_device_server
for target in "win64 mingw-x86_64.cmake" "win32 mingw-i686.cmake"; do
  set -- $target
  build_gtest "$1" "$2"
  quietly cmake --preset "$1"
  if [ "$1" = win32 ] && [ $host_i386 = 0 ]; then
    cmake --build --preset "$1" -j 2
  else
    cmake --build --preset "$1" -j 2 --target win32_device_test
  fi
done

# One Wine prefix with 32-bit support, kept as a tar file and unpacked into
# the guest's memory per run; made again only when Wine or the recipe
# changes.
prefix_inputs="recipe $(sed -n '/^# ---- The prefix/,/^# ---- The run/p' scripts/wine-hid-guest.sh | sha256sum | cut -c1-16)
$(dpkg-query -W -f='${Package}:${Architecture} ${Version}\n' wine wine64 wine32:i386 libwine libwine:i386 2>/dev/null || true)"
guest_options=()
[ -n "$WINE32_MISSING" ] && guest_options+=(--no-32)
if [ -f "$build/prefix.tar" ] && [ "$(cat "$build/prefix.inputs" 2>/dev/null)" = "$prefix_inputs" ]; then
  say "  Wine prefix: kept ($build/prefix.tar)"
else
  rm -f "$build/prefix.tar" "$build/prefix.inputs"
  if [ $host_i386 = 1 ]; then
    step "Windows device tier: making the Wine prefix on the host"
    started=$SECONDS
    quietly bash scripts/wine-hid-guest.sh make-prefix "$PWD/$build/prefix-make"
    tar -C "$build/prefix-make" -cf "$build/prefix.tar" .
    rm -rf "$build/prefix-make"
    printf '%s\n' "$prefix_inputs" >"$build/prefix.inputs"
    say "  made $build/prefix.tar ($((SECONDS - started)) s)"
  else
    say "  Wine prefix: this kernel cannot run i386 code, so the guest makes it (2 to 3 minutes)"
    guest_options+=(--make-prefix)
  fi
fi
# Where this kernel cannot run i386 code, the guest runs the 32-bit
# simulator suite too, one Wine process per test program.
sim_programs=0
if [ $host_i386 = 0 ]; then
  guest_options+=(--sim-suite)
  sim_programs=$(find build/win32/tests -name '*_test.exe' ! -name win32_device_test.exe | wc -l)
fi

guest_find_kernel
step "Windows device tier: initramfs for kernel ${guest_kernel#/boot/vmlinuz-}"
root=$build/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,newroot}
cp /bin/busybox "$root/bin/busybox"
guest_add_modules "$root" virtio_pci_legacy_dev virtio_pci_modern_dev virtio_ring virtio virtio_pci \
  9pnet 9pnet_virtio netfs fscache 9p hid uhid hid-generic
work=$PWD
# The work folder's path as one word of the init script, whatever it holds
# (spaces, quotes).
work_word="'${work//\'/\'\\\'\'}'"
{
  echo '#!/bin/busybox sh'
  echo '/bin/busybox --install -s /bin'
  echo 'mount -t proc proc /proc; mount -t sysfs sysfs /sys; mount -t devtmpfs devtmpfs /dev'
  guest_insmod_lines
  echo 'ifconfig lo 127.0.0.1 up  # the loopback tests of the simulator suite'
  echo 'nine="-t 9p -o trans=virtio,version=9p2000.L,msize=512000"'
  echo 'mount $nine,ro,cache=loose hostroot /newroot || echo "OMBRIX-GUEST-MOUNT failed: host root"'
  echo 'for dir in tmp run root var/tmp; do mount -t tmpfs tmpfs /newroot/$dir; done'
  echo '# The work folder after the tmpfs mounts, at its own path: a checkout'
  echo '# under /tmp, /root, /run or /var/tmp would be hidden by them otherwise.'
  echo "work=$work_word"
  echo 'mkdir -p "/newroot$work" 2>/dev/null'
  echo 'mount $nine work "/newroot$work" || echo "OMBRIX-GUEST-MOUNT failed: work folder"'
  echo 'mount -t proc proc /newroot/proc; mount -t sysfs sysfs /newroot/sys'
  echo 'mount -t devtmpfs devtmpfs /newroot/dev; mkdir -p /newroot/dev/pts /newroot/dev/shm'
  echo 'mount -t devpts devpts /newroot/dev/pts; mount -t tmpfs tmpfs /newroot/dev/shm'
  echo '# What udev would add: bash and others need /dev/fd.'
  echo 'ln -s /proc/self/fd /newroot/dev/fd; ln -s /proc/self/fd/0 /newroot/dev/stdin'
  echo 'ln -s /proc/self/fd/1 /newroot/dev/stdout; ln -s /proc/self/fd/2 /newroot/dev/stderr'
  echo 'echo OMBRIX-GUEST-START'
  echo 'if [ -f "/newroot$work/scripts/wine-hid-guest.sh" ]; then'
  echo "  chroot /newroot /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \\"
  echo "    /bin/bash \"\$work/scripts/wine-hid-guest.sh\" run ${guest_options[*]:-}"
  echo '  echo "OMBRIX-GUEST-EXIT: $?"'
  echo 'else'
  echo '  echo "OMBRIX-GUEST-NO-WORK: $work"'
  echo 'fi'
  echo 'sync; reboot -f'
} >"$root/init"
chmod +x "$root/init"
guest_pack_initramfs "$root" "$build/initramfs.cpio.gz"

step "Windows device tier: booting the guest (${guest_options[*]:-device tests only})"
log=$build/guest.log
started=$(date +%s)
# Bounds a hung guest. On an idle 2-core machine the device tests take
# about a minute, making the prefix under 3 more and the 32-bit simulator
# suite under 4; each limit leaves room for a machine several times slower.
guest_limit=900
[[ " ${guest_options[*]:-} " == *" --make-prefix "* ]] && guest_limit=$((guest_limit + 900))
[[ " ${guest_options[*]:-} " == *" --sim-suite "* ]] && guest_limit=$((guest_limit + 1200))
# Software emulation: nested KVM is not dependable on CI hosts. With SMAP
# on, QEMU 7.2's emulation faults at Wine's return to user mode and every
# Wine process dies at start.
set +e
timeout "$guest_limit" qemu-system-x86_64 -machine accel=tcg -cpu max,-smap -m 3072 -smp 2 -nographic -no-reboot \
  -kernel "$guest_kernel" -initrd "$build/initramfs.cpio.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=${work//,/,,},mount_tag=work,security_model=none,multidevs=remap" \
  </dev/null | sed -u 's/\r$//' | tee "$log"
qemu_status=${PIPESTATUS[0]}
set -e
echo "guest ran for $(($(date +%s) - started)) s"

if grep -q '^OMBRIX-PREFIX-MADE' "$log" && [ -f "$build/prefix.tar" ]; then
  printf '%s\n' "$prefix_inputs" >"$build/prefix.inputs"
fi
step "Windows device tier: summary"
grep '^OMBRIX-RUN ' "$log" | sed 's/^OMBRIX-RUN /  /' || true
[ $host_i386 = 1 ] && [ -z "$WINE32_MISSING" ] && echo "  (32-bit simulator suite: left to the Wine tier, since this kernel runs i386 code)"
if ! grep -q 'OMBRIX-GUEST-START' "$log"; then
  echo "Windows device tier FAILED: the guest did not start (qemu status $qemu_status)" >&2
  exit 1
fi
if grep -q '^OMBRIX-GUEST-NO-WORK' "$log"; then
  echo "Windows device tier FAILED: the guest cannot see the work folder $work through its 9p share, so it never started Wine" >&2
  exit 1
fi
result=$(sed -n 's/^OMBRIX-GUEST-EXIT: \([0-9]*\).*/\1/p' "$log" | tail -n 1)
expected_runs=$((2 + sim_programs))
[ -n "$WINE32_MISSING" ] && expected_runs=1
passed_runs=$(grep -c '^OMBRIX-RUN .* passed' "$log" || true)
if [ "$result" != 0 ] || [ "$passed_runs" -lt $expected_runs ]; then
  echo "Windows device tier FAILED: guest exit status '${result:-none}', $passed_runs of $expected_runs programs passed (qemu status $qemu_status)" >&2
  exit 1
fi
say "  guest: $passed_runs of $expected_runs programs passed ($(($(date +%s) - started)) s)"

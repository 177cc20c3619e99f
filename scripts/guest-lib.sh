# Helpers for the tiers that boot the distribution kernel in QEMU: the
# kernel, its modules for a busybox initramfs, and the packing. Sourced
# after scripts/lib.sh.

# Sets guest_kernel and guest_modules to the newest installed distribution
# kernel and its module tree.
guest_find_kernel() {
  guest_kernel=$(ls -1 /boot/vmlinuz-* | sort -V | tail -n 1)
  local version=${guest_kernel#/boot/vmlinuz-}
  guest_modules=/lib/modules/$version
  [ -d "$guest_modules" ] || { echo "no modules for kernel $version" >&2; return 1; }
}

# guest_add_modules <initramfs root> <module>...: copies each module and
# those it depends on, dependencies first, into <root>/modules, decompressed
# (busybox insmod takes plain .ko files only), and appends them to
# guest_load_order in the order they must be loaded.
guest_load_order=()
guest_add_modules() {
  local root=$1 name
  shift
  mkdir -p "$root/modules"
  for name in "$@"; do guest_add_module "$root" "$name"; done
}

guest_add_module() {
  local root=$1 name=$2 line path dep loaded
  line=$(grep -E "(^|/)${name}\.ko(\.xz|\.zst|\.gz)?:" "$guest_modules/modules.dep" | head -n 1)
  [ -n "$line" ] || { echo "module $name not found in $guest_modules" >&2; return 1; }
  path=${line%%:*}
  for dep in ${line#*:}; do
    dep=$(basename "$dep"); dep=${dep%%.ko*}
    guest_add_module "$root" "$dep"
  done
  for loaded in "${guest_load_order[@]:-}"; do [ "$loaded" = "$name" ] && return 0; done
  case "$path" in
    *.xz) xz -dc "$guest_modules/$path" >"$root/modules/$name.ko" ;;
    *.zst) zstd -qdc "$guest_modules/$path" >"$root/modules/$name.ko" ;;
    *.gz) gzip -dc "$guest_modules/$path" >"$root/modules/$name.ko" ;;
    *) cp "$guest_modules/$path" "$root/modules/$name.ko" ;;
  esac
  guest_load_order+=("$name")
}

# The init script's lines that load guest_load_order.
guest_insmod_lines() {
  local module
  for module in "${guest_load_order[@]}"; do
    echo "insmod /modules/$module.ko || echo 'insmod $module failed'"
  done
}

# guest_pack_initramfs <root> <output .cpio.gz>
guest_pack_initramfs() {
  (cd "$1" && find . | cpio -o -H newc --quiet | gzip -1) >"$2"
}

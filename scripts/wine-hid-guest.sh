#!/usr/bin/env bash
# The inside of the Windows device tier (scripts/tier-wine-hid.sh).
#
#   wine-hid-guest.sh make-prefix <dir>
#       Makes a Wine prefix with 32-bit support and the winebus settings
#       the tier needs. Runs wherever i386 code executes: on the host, or
#       in the guest when the host cannot.
#   wine-hid-guest.sh run [--make-prefix] [--sim-suite] [--no-32]
#       In the QEMU guest (chrooted into the host's root, the work folder
#       writable): unpacks the kept prefix (or makes it first), creates the
#       uhid devices, then runs the device tests of both word sizes under
#       Wine and, with --sim-suite, the 32-bit simulator suite. Prints one
#       "OMBRIX-RUN <what> <passed|FAILED ...>" line per program.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

build=build/wine-hid-tier
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all

# ---- The prefix ------------------------------------------------------------------
# (the tier makes the prefix again when anything from here to the next
# such line changes)

make_prefix() {
  export WINEPREFIX=$1
  local key='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\winebus'
  rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
  local started=$(date +%s)
  wine_run 64 cmd /c exit >/dev/null 2>&1
  echo "  wineboot: $(($(date +%s) - started)) s"
  # Without libSDL2 the hidraw backend would never start with SDL enabled,
  # leaving only Wine's virtual mouse and keyboard. Without udevd in the
  # guest, winebus scans /dev/hidraw* itself and watches /dev for unplugs.
  # One Wine process for both: each costs seconds under emulation.
  printf 'REGEDIT4\r\n\r\n[%s]\r\n"Enable SDL"=dword:00000000\r\n"DisableUdevd"=dword:00000001\r\n' \
    "$key" >"$WINEPREFIX/drive_c/winebus.reg"
  wine_run 64 reg import 'C:\winebus.reg' >/dev/null 2>&1 || return 1
  rm -f "$WINEPREFIX/drive_c/winebus.reg"
  $wineserver -w
  echo "  settings: $(($(date +%s) - started)) s"
  rm -f "$WINEPREFIX.lock"
  link_builtin_copies "$WINEPREFIX/drive_c"
  echo "  prefix ready: $(($(date +%s) - started)) s"
  # Without 32-bit Wine (OMBRIX_NO_WINE32=1) the prefix is 64-bit only.
  [ -n "${OMBRIX_NO_WINE32:-}" ] || [ -d "$WINEPREFIX/drive_c/windows/syswow64" ] ||
    { echo "the prefix has no 32-bit support" >&2; return 1; }
  grep -q '"DisableUdevd"=dword:00000001' "$WINEPREFIX/system.reg"
}

# wineboot copies Wine's PE modules into the prefix, over a gigabyte for
# both word sizes. Each copy becomes a link to the installed module: Wine
# still finds its builtin marker there, and the kept prefix shrinks to some
# 30 MB. The host and the guest see the installed modules at the same paths.
# A copy is known by Wine's builtin marker, its machine type (which picks
# the installed tree) and its name and size; comparing the bytes as well
# would read the whole gigabyte again, which under emulation over the 9p
# share took minutes. One perl process does it all: a process per file is
# slow under emulation too.
link_builtin_copies() {
  perl -e '
    use strict;
    use File::Find;
    my %tree = (0x8664 => "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                0x014c => "/usr/lib/i386-linux-gnu/wine/i386-windows");
    my ($linked, $kept) = (0, 0);
    find({ no_chdir => 1, wanted => sub {
      my $file = $File::Find::name;
      return if -l $file || ! -f _;
      my $size = -s _;
      return if $size <= 16384;
      open(my $in, "<:raw", $file) or return;
      read($in, my $head, 4096);
      close $in;
      return unless length($head) >= 0x60 && substr($head, 0x40, 16) eq "Wine builtin DLL";
      my $pe = unpack("V", substr($head, 0x3c, 4));
      return unless $pe + 6 <= length($head) && substr($head, $pe, 4) eq "PE\0\0";
      my $dir = $tree{unpack("v", substr($head, $pe + 4, 2))} or return;
      my ($name) = $file =~ m{([^/]+)$};
      my $installed = "$dir/$name";
      if (-f $installed && -s _ == $size && unlink($file) && symlink($installed, $file)) {
        ++$linked;
      } else {
        ++$kept;
      }
    }}, $ARGV[0]);
    print "  $linked builtin copies linked, $kept kept\n";
  ' "$1"
}

# ---- The run ----------------------------------------------------------------------

# run_program <label> <bits> <program.exe>: one Wine process. The program
# and the DLLs beside it run from the guest's memory: Wine maps PE images
# from their files, which faults on the 9p share. The output goes to a
# file, followed as it grows: on a terminal Wine's console turns spaces
# into cursor movements, and a pipe would stay open in the Wine services a
# program may start.
failures=0
run_program() {
  local label=$1 bits=$2 program=$3 start status folder
  start=$(date +%s)
  echo "---- $label: $(basename "$program") ($bits-bit) ----"
  folder=/tmp/programs/$label
  mkdir -p "$folder"
  cp "$program" "$folder/"
  local dll
  for dll in "$(dirname "$program")"/*.dll; do
    [ -f "$dll" ] && cp "$dll" "$folder/"
  done
  : >"$folder/output.txt"
  (cd "$folder" && exec timeout 900 "$OLDPWD/src/platform/win32/wine-run.sh" "$bits" "$(basename "$program")" \
    >"$folder/output.txt" 2>&1) &
  local pid=$!
  tail -n +1 -f --pid=$pid "$folder/output.txt" 2>/dev/null
  wait $pid
  status=$?
  if [ $status -eq 0 ]; then
    echo "OMBRIX-RUN $label passed ($(($(date +%s) - start)) s)"
  else
    echo "OMBRIX-RUN $label FAILED (exit status $status)"
    failures=$((failures + 1))
  fi
}

# Starts the device server and waits until it has every device up.
start_device_server() {
  "$build/native/tests/hidraw/uhid_device_server" W64 W32 &
  server=$!
  local manifest=/tmp/ombrix-devices/devices.txt waited=0
  until [ -f "$manifest" ] && tail -n 1 "$manifest" | grep -qx END; do
    if ! kill -0 $server 2>/dev/null || [ $waited -ge 600 ]; then
      echo "OMBRIX-RUN device-server FAILED"
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  echo "devices up: $(($(wc -l <"$manifest") - 1))"
}

run_in_guest() {
  local make=0 sim=0 no32=0 option start
  for option in "$@"; do
    case $option in
      --make-prefix) make=1 ;;
      --sim-suite) sim=1 ;;
      --no-32) no32=1 ;;
      *) echo "unknown option $option" >&2; return 2 ;;
    esac
  done
  export HOME=/root WINEPREFIX=/tmp/wine-prefix
  start=$(date +%s)
  if [ $make = 1 ]; then
    echo "making the Wine prefix with 32-bit support (minutes under emulation)"
    make_prefix "$WINEPREFIX" || { echo "OMBRIX-RUN prefix FAILED"; return 1; }
    tar -C "$WINEPREFIX" -cf "$build/prefix.tar.part" . && mv "$build/prefix.tar.part" "$build/prefix.tar"
    echo "OMBRIX-PREFIX-MADE in $(($(date +%s) - start)) s"
  else
    mkdir -p "$WINEPREFIX"
    tar -C "$WINEPREFIX" --no-same-owner -xf "$build/prefix.tar" || { echo "OMBRIX-RUN prefix FAILED"; return 1; }
    echo "prefix unpacked in $(($(date +%s) - start)) s"
  fi

  # The devices exist before Wine starts: Wine lists only those.
  start_device_server || return 1
  # Wine's services start once, alone, before the tests are timed.
  start=$(date +%s)
  $wineserver -p
  wine_run 64 cmd /c exit >/dev/null 2>&1
  echo "Wine started in $(($(date +%s) - start)) s"

  run_program device-tests-64 64 build/win64/tests/win32/device/win32_device_test.exe
  [ $no32 = 1 ] || run_program device-tests-32 32 build/win32/tests/win32/device/win32_device_test.exe
  if [ $sim = 1 ]; then
    local program
    for program in $(find build/win32/tests -name '*_test.exe' ! -name win32_device_test.exe | sort); do
      run_program "sim-suite-32:$(basename "$program" .exe)" 32 "$program"
    done
  fi
  kill $server
  wait $server
  $wineserver -k
  return $((failures > 0))
}

case "${1:-}" in
  make-prefix) make_prefix "$2" ;;
  run) shift; run_in_guest "$@" ;;
  *) echo "usage: $0 make-prefix <dir> | run [--make-prefix] [--sim-suite] [--no-32]" >&2; exit 2 ;;
esac

#!/usr/bin/env bash
# Fuzz tier: builds the libFuzzer harnesses of the network protocol core
# and of the capture files `ombrix play` reads
# with clang (AddressSanitizer and UBSan on) into build/fuzz and runs each for
# a bounded time, starting from a few packets written here. Any crash,
# sanitizer report or broken invariant fails the tier; the input that caused
# it is kept under build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_packages clang libclang-rt-14-dev cmake ninja-build libpcap-dev

seconds="${OMBRIX_FUZZ_SECONDS:-30}"
build=build/fuzz

step "fuzz: build the harnesses with clang"
CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

# seed FILE HEX...: writes the bytes given in hex (spaces allowed).
seed() {
  local file=$1
  shift
  local hex
  hex="$(printf '%s' "$*" | tr -d ' \n')"
  printf "$(printf '%s' "$hex" | sed 's/../\\x&/g')" >"$file"
}
zeros() { printf '00%.0s' $(seq 1 "$1"); }

sacn_root="0010 0000 4153432d45312e3137000000"
cid="0102030405060708090a0b0c0d0e0f10"
mkdir -p "$build/corpus/capture_frame_fuzz" "$build/corpus/capture_file_fuzz" \
  "$build/corpus/sacn_parse_fuzz" "$build/corpus/artnet_parse_fuzz" \
  "$build/corpus/tracker_fuzz" "$build/corpus/node_state_fuzz" "$build/artifacts"
# Data for universe 1 with three slots, a sync packet, a discovery page.
seed "$build/corpus/sacn_parse_fuzz/data" "$sacn_root 7071 00000004 $cid 705b 00000002" \
  "4465736b $(zeros 60) 64 0000 2a 00 0001 700e 02 a1 0000 0001 0004 00 ff8001"
seed "$build/corpus/sacn_parse_fuzz/sync" "$sacn_root 7021 00000008 $cid 700b 00000001 09 0007 0000"
seed "$build/corpus/sacn_parse_fuzz/discovery" "$sacn_root 706e 00000008 $cid 7058 00000002" \
  "4465736b $(zeros 60) $(zeros 4) 700e 00000001 00 00 0001 0002 0200"
# ArtDmx, ArtPoll, ArtSync, and an ArtPollReply header.
artnet_id="4172742d4e657400"
seed "$build/corpus/artnet_parse_fuzz/dmx" "$artnet_id 0050 000e 05 00 23 01 0004 01020304"
seed "$build/corpus/artnet_parse_fuzz/dmx-odd-padded" "$artnet_id 0050 000e 05 00 23 01 0003 010203 00"
seed "$build/corpus/artnet_parse_fuzz/poll" "$artnet_id 0020 000e 20 10 0020 0010 0000 0000"
seed "$build/corpus/artnet_parse_fuzz/sync" "$artnet_id 0052 000e 0000"
seed "$build/corpus/artnet_parse_fuzz/reply" "$artnet_id 0021 0a000005 3619 $(zeros 223)"
# Two sACN sources, a sync, time passing, expiry; Art-Net data and ArtSync.
seed "$build/corpus/tracker_fuzz/script" "00 00 00 01 64 0004 05 00 01 00 01 64 0004 09" \
  "01 00 05 02 40 03 04 00 01 0002 03 05 00 04 00 02 0002 07 02 ff 03"
# A primary and a backup: both send, time passes past the loss window, the
# primary returns; then a cancelled Art-Net merge.
seed "$build/corpus/tracker_fuzz/backup" "06 26 05 00 01 00 01 64 0004 05 00 02 00 01 64 0004 09" \
  "02 ff 03 02 ff 03 02 40 03 00 01 00 02 64 0004 05 03 04 01 01 0002 03 04 02 01 0002 07 06 80 04 02 02 0002 07"

# An ArtAddress that re-patches, renames and sets LTP on port 0.
seed "$build/corpus/artnet_parse_fuzz/address" "$artnet_id 0060 000e 81 02 5472757373204c $(zeros 11) $(zeros 64)" \
  "7f7f7f7f 7f837f7f 7f ff 10"
# A state file as the bridge writes it (its closing line is made here).
python3 - "$build/corpus/node_state_fuzz/state" <<'PY'
import sys, zlib
body = (b"ombrix-bridge-state 1\nshort-name Truss%20L\noutput artnet:0:0:1 patch artnet:0:1:3\n"
        b"output sacn:1 loss full\ninput artnet:0:0:2 patch artnet:0:0:5\n")
open(sys.argv[1], "wb").write(body + b"end %d %08x\n" % (len(body), zlib.crc32(body)))
PY

# Captured frames (the first byte picks the link type: 01 Ethernet, 04 raw
# IP, 08 Linux SLL2) and capture files: a pcap (raw IP) and a pcapng
# (Ethernet, VLAN tag) of one datagram each.
ipv4_udp="45000020 00014000 40110000 0a000002 efff0001 c35015c0 000c0000 41534345"
ether="111111111111 222222222222"
seed "$build/corpus/capture_frame_fuzz/ethernet" "01 $ether 0800 $ipv4_udp"
seed "$build/corpus/capture_frame_fuzz/vlan" "01 $ether 8100 002a 0800 $ipv4_udp"
seed "$build/corpus/capture_frame_fuzz/raw" "04 $ipv4_udp"
seed "$build/corpus/capture_frame_fuzz/sll2" "08 0800 0000 00000001 0001 00 06 010203040506 0000 $ipv4_udp"
seed "$build/corpus/capture_file_fuzz/pcap" "d4c3b2a1 0200 0400 00000000 00000000 ffff0000 65000000" \
  "00000000 00000000 20000000 20000000 $ipv4_udp"
seed "$build/corpus/capture_file_fuzz/pcapng" "0a0d0d0a 1c000000 4d3c2b1a 0100 0000 ffffffffffffffff 1c000000" \
  "01000000 14000000 0100 0000 ffff0000 14000000" \
  "06000000 54000000 00000000 00000000 00000000 32000000 32000000 $ether 8100 002a 0800 $ipv4_udp 0000 54000000"

for harness in sacn_parse_fuzz artnet_parse_fuzz tracker_fuzz capture_frame_fuzz capture_file_fuzz node_state_fuzz; do
  step "fuzz: $harness for ${seconds} s"
  if ! "$build/$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$harness-" \
      "$build/corpus/$harness" 2>"$build/$harness.log"; then
    tail -n 60 "$build/$harness.log" >&2
    echo "FAILED: $harness found a crash; input kept as $build/artifacts/$harness-*" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_runs|^Done ' "$build/$harness.log" || true
done

step "fuzz: every harness ran ${seconds} s without a finding"

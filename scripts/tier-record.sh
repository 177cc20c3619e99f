#!/usr/bin/env bash
# Record and play tier: `ombrix record` and `ombrix play` with the real
# tools around them, all on loopback (127.0.0.1, ports chosen here, tshark
# capturing lo with a filter on those ports):
#   - the npm sacn package's Sender (an independent implementation) captured
#     by tshark (dumpcap; pcapng, Ethernet, and Linux cooked SLL2 on "any")
#     and by `ombrix record` at once; tshark must read our recording as
#     E1.31 throughout, none malformed, and both hold the frames sent;
#   - tshark's capture played into a simulated interface and re-sent,
#     recorded again, compared frame by frame and in time with what the
#     sender sent; the same for our own recording (record -> play ->
#     record), for the SLL2 capture and for a VLAN-tagged copy (pcapng);
#   - a looped play over several loops, ended by SIGTERM (interfaces back
#     to mode 0);
#   - bad files: not a capture, truncated, no sACN or Art-Net in it.
# Bounded in time; fails loudly on any step, the npm registry being
# unreachable included.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_packages tshark nodejs python3 libpcap-dev
command -v npm >/dev/null || ensure_packages npm

step "record and play: build the tool"
cmake --preset default -DOMBRIX_BUILD_TOOLS=ON >/dev/null
cmake --build --preset default -j 2 --target ombrix >/dev/null
tool=build/default/apps/ombrix/ombrix
interop=apps/capture/tests/interop

if [ ! -d build/npm/node_modules/sacn ]; then
  step "record and play: npm package sacn into build/npm"
  mkdir -p build/npm
  if ! npm_log="$(npm install --prefix build/npm --no-audit --no-fund --loglevel=error sacn dmxnet 2>&1)"; then
    echo "$npm_log" >&2
    echo "record and play: npm install of sacn failed (is the npm registry reachable?)" >&2
    exit 1
  fi
fi
echo "npm: sacn $(node -p "require('./build/npm/node_modules/sacn/package.json').version")"

scratch="$(mktemp -d)"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # OMBRIX_KEEP_SCRATCH=1 keeps the captures and logs for a look afterwards.
  if [ -n "${OMBRIX_KEEP_SCRATCH:-}" ]; then echo "kept $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT

# Two distinct free UDP ports on loopback: where the show is sent, and
# where the player re-sends it.
read -r SHOW_PORT REPLAY_PORT < <(python3 -c '
import socket
s = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*[x.getsockname()[1] for x in s])')

# start_dumpcap FILE INTERFACE [ARGS...]: captures the two ports until killed.
start_dumpcap() {
  local file=$1 interface=$2
  shift 2
  tshark -i "$interface" "$@" -f "udp and (port $SHOW_PORT or port $REPLAY_PORT)" -w "$file" -q \
    2>"$file.log" &
  pids+=($!)
  for _ in $(seq 100); do grep -q "Capturing on" "$file.log" && break; sleep 0.1; done
  grep -q "Capturing on" "$file.log" || { cat "$file.log" >&2; echo "tshark did not start on $interface" >&2; exit 1; }
}
stop_last() {
  local pid=${pids[-1]}
  kill -INT "$pid"
  wait "$pid" || true
  unset 'pids[-1]'
}

frames=100
step "record and play: the npm sacn Sender ($frames frames) captured by tshark and by ombrix record"
start_dumpcap "$scratch/sender.pcapng" lo
start_dumpcap "$scratch/sender-sll2.pcapng" any -y LINUX_SLL2
"$tool" --sim record "$scratch/recorded.pcap" --bind 127.0.0.1 --sacn-port "$SHOW_PORT" --unicast-only \
  --status-seconds 1 2>"$scratch/record.log" &
record_pid=$!
pids+=($record_pid)
for _ in $(seq 100); do grep -q "recording sACN" "$scratch/record.log" && break; sleep 0.1; done
timeout 60 node "$interop/sacn_show.js" "$SHOW_PORT" "$frames"
sleep 0.5
kill -TERM "$record_pid"
record_status=0
wait "$record_pid" || record_status=$?
unset 'pids[-1]'
stop_last
stop_last
[ "$record_status" -eq 0 ] && grep -q "wrote 1 file(s)" "$scratch/record.log" || {
  cat "$scratch/record.log" >&2
  echo "record and play: ombrix record did not end cleanly on SIGTERM (exit $record_status)" >&2
  exit 1
}
grep "recorded " "$scratch/record.log" | sed 's/^[0-9:]* //'

step "record and play: tshark reads our recording as E1.31, none malformed"
decode=(--enable-heuristic acn -o acn.dmx_enable:TRUE)
total=$(tshark -r "$scratch/recorded.pcap" 2>/dev/null | wc -l)
e131=$(tshark -r "$scratch/recorded.pcap" "${decode[@]}" -Y "acn" 2>/dev/null | wc -l)
malformed=$(tshark -r "$scratch/recorded.pcap" "${decode[@]}" -Y "_ws.malformed || _ws.expert.severity == error" \
  2>/dev/null | wc -l)
echo "$scratch/recorded.pcap: $total packets, $e131 E1.31, $malformed malformed"
if [ "$total" -ne "$e131" ] || [ "$malformed" -ne 0 ] || [ "$total" -lt "$frames" ]; then
  tshark -r "$scratch/recorded.pcap" "${decode[@]}" -V 2>/dev/null | head -60 >&2
  echo "record and play: tshark does not read every packet of the recording as E1.31" >&2
  exit 1
fi
python3 "$interop/show_frames.py" expect "$scratch/sender.pcapng" "$SHOW_PORT" 1 "$frames"
python3 "$interop/show_frames.py" expect "$scratch/recorded.pcap" "$SHOW_PORT" 1 "$frames"
python3 "$interop/show_frames.py" expect "$scratch/sender-sll2.pcapng" "$SHOW_PORT" 1 "$frames"
link=$(tshark -r "$scratch/sender-sll2.pcapng" -T fields -e frame.encap_type -c 1 2>/dev/null)
echo "SLL2 capture: encapsulation type $link"

# A VLAN-tagged Ethernet copy of tshark's capture, in pcapng: each frame's
# EtherType moved behind an 802.1Q tag (VLAN 42).
python3 - "$scratch/sender.pcapng" "$scratch/sender-vlan.pcapng" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
out = bytearray()
at = 0
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    block = bytearray(data[at:at + length])
    at += length
    if kind == 1:  # interface: Ethernet stays
        pass
    elif kind == 6:  # enhanced packet: tag the frame
        caplen, origlen = struct.unpack_from("<II", block, 20)
        frame = bytes(block[28:28 + caplen])
        tagged = frame[:12] + b"\x81\x00\x00\x2a" + frame[12:]
        padded = tagged + bytes((4 - len(tagged) % 4) % 4)
        block = bytearray(block[:20] + struct.pack("<II", len(tagged), origlen + 4) + padded)
        block += struct.pack("<I", len(block) + 4)
        struct.pack_into("<I", block, 4, len(block))
    out += block
open(sys.argv[2], "wb").write(out)
PY
vlan=$(tshark -r "$scratch/sender-vlan.pcapng" -Y "vlan.id == 42 && udp.dstport == $SHOW_PORT" 2>/dev/null | wc -l)
echo "VLAN copy: $vlan frames tagged VLAN 42 (tshark)"
[ "$vlan" -eq "$frames" ] || { echo "record and play: the VLAN-tagged copy is not what tshark reads" >&2; exit 1; }

# play_and_record SHOW NAME [PLAY ARGS...]: plays SHOW into SIM0000000000001
# and re-sends universe 1 as universe 2 to REPLAY_PORT, where ombrix record
# records it as NAME.pcap.
play_and_record() {
  local show=$1 name=$2
  shift 2
  "$tool" --sim record "$scratch/$name.pcap" --bind 127.0.0.1 --sacn-port "$REPLAY_PORT" --unicast-only \
    --status-seconds 0 2>"$scratch/$name-record.log" &
  local recorder=$!
  pids+=($recorder)
  for _ in $(seq 100); do grep -q "recording sACN" "$scratch/$name-record.log" && break; sleep 0.1; done
  local status=0
  timeout 120 "$tool" --sim play "$show" --sacn-port "$SHOW_PORT" --out SIM0000000000001=sacn:1 \
    --send sacn:1=sacn:2 --sacn-target "127.0.0.1:$REPLAY_PORT" --unicast-only --status-seconds 0 "$@" \
    2>"$scratch/$name-play.log" || status=$?
  sleep 0.3
  kill -TERM "$recorder"
  wait "$recorder" || true
  unset 'pids[-1]'
  if [ "$status" -ne 0 ] || ! grep -q "carries the last look of sacn:1" "$scratch/$name-play.log"; then
    cat "$scratch/$name-play.log" >&2
    echo "record and play: playing $show failed (exit $status)" >&2
    exit 1
  fi
  grep -E "frames in|simulated wire" "$scratch/$name-play.log" | sed 's/^[0-9:]* play: /  play: /'
}

# compare A B [ARGS]: show_frames.py same; a miss of the timing goal alone
# (status 3) is told apart, so the caller can try once more: the offsets
# are measured across two processes and loopback, and a busy machine can
# delay one frame.
compare() {
  local status=0
  python3 "$interop/show_frames.py" same "$1" "$SHOW_PORT" 1 "$2" "$REPLAY_PORT" 2 "${@:3}" || status=$?
  return $status
}
for source in sender.pcapng sender-sll2.pcapng sender-vlan.pcapng recorded.pcap; do
  step "record and play: $source played into a simulated interface, re-sent and recorded again"
  name="replay-${source%%.*}"
  play_and_record "$scratch/$source" "$name"
  status=0
  compare "$scratch/$source" "$scratch/$name.pcap" || status=$?
  if [ "$status" -eq 3 ]; then
    echo "timing outside the goal once; playing it again (a busy machine?)"
    play_and_record "$scratch/$source" "$name"
    compare "$scratch/$source" "$scratch/$name.pcap"
  elif [ "$status" -ne 0 ]; then
    exit 1
  fi
done

step "record and play: a looped play over three loops, ended by SIGTERM"
"$tool" --sim record "$scratch/looped.pcap" --bind 127.0.0.1 --sacn-port "$REPLAY_PORT" --unicast-only \
  --status-seconds 0 2>"$scratch/looped-record.log" &
recorder=$!
pids+=($recorder)
for _ in $(seq 100); do grep -q "recording sACN" "$scratch/looped-record.log" && break; sleep 0.1; done
# The show is 99 x 40 ms long and each loop one frame interval more: 4 s.
"$tool" --sim play "$scratch/recorded.pcap" --sacn-port "$SHOW_PORT" --out SIM0000000000001=sacn:1 \
  --send sacn:1=sacn:2 --sacn-target "127.0.0.1:$REPLAY_PORT" --unicast-only --loop --status-seconds 1 \
  2>"$scratch/looped-play.log" &
player=$!
pids+=($player)
sleep 13
kill -TERM "$player"
play_status=0
wait "$player" || play_status=$?
unset 'pids[-1]'
sleep 0.3
kill -TERM "$recorder"
wait "$recorder" || true
unset 'pids[-1]'
grep -q "stopped: links closed, interfaces back to mode 0" "$scratch/looped-play.log" && [ "$play_status" -eq 0 ] || {
  cat "$scratch/looped-play.log" >&2
  echo "record and play: the looped play did not end cleanly on SIGTERM (exit $play_status)" >&2
  exit 1
}
grep -E "loop 4|frames in" "$scratch/looped-play.log" | tail -2 | sed 's/^[0-9:]* play: /  play: /'
compare "$scratch/recorded.pcap" "$scratch/looped.pcap" --loops 3

step "record and play: bad files end in one sentence naming file and offset"
expect_failure() {
  local pattern=$1
  shift
  local status=0
  "$tool" --sim play "$@" --out SIM0000000000001=sacn:1 --status-seconds 0 2>"$scratch/bad.log" || status=$?
  if [ "$status" -ne 1 ] || ! grep -qE "$pattern" "$scratch/bad.log"; then
    cat "$scratch/bad.log" >&2
    echo "record and play: expected exit 1 and \"$pattern\" (exit $status)" >&2
    exit 1
  fi
  grep "^ombrix: " "$scratch/bad.log"
}
echo "this is not a capture" >"$scratch/text.pcap"
expect_failure "^ombrix: .*/text.pcap is not a pcap or pcapng file that can be read \(at byte 0: .*\)\.$" "$scratch/text.pcap"
size=$(stat -c %s "$scratch/recorded.pcap")
head -c $((size / 2)) "$scratch/recorded.pcap" >"$scratch/truncated.pcap"
expect_failure "^ombrix: .*/truncated.pcap is broken at byte [0-9]+ \(.*\)\.$" "$scratch/truncated.pcap" --sacn-port "$SHOW_PORT"
expect_failure "^ombrix: .*/recorded.pcap holds no sACN or Art-Net datagram" "$scratch/recorded.pcap"

step "record and play: passed"

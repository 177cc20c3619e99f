#!/usr/bin/env bash
# The bridge driven by independent implementations of the protocols (the
# npm packages sacn and dmxnet, and a plain ArtPoll), all on 127.0.0.1 with
# ports chosen here, while tshark captures the traffic and must find no
# malformed packet. The bridge is whatever command follows --, so that the
# same checks serve the Linux tool and the Windows tool under Wine:
#   apps/bridge/tests/interop/run.sh [--install] [--label TEXT] [--stop-signal TERM|INT] -- COMMAND...
# --install runs npm install even when the packages are present; the stop
# signal is the one that ends the bridge cleanly at the end (SIGTERM on
# Linux; under Wine SIGINT, which Wine delivers as Ctrl-C). Bounded in time;
# fails loudly on any step, the npm registry being unreachable included.
set -euo pipefail
cd "$(dirname "$0")/../../../.."
source scripts/lib.sh

install=no
label="bridge interop"
stop_signal=TERM
while [ $# -gt 0 ]; do
  case "$1" in
    --install) install=yes; shift ;;
    --label) label=$2; shift 2 ;;
    --stop-signal) stop_signal=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: $0 [--install] [--label TEXT] [--stop-signal TERM|INT] -- COMMAND..." >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "$0: no bridge command given" >&2; exit 2; }
bridge_command=("$@")

if [ "$install" = yes ] || [ ! -d build/npm/node_modules/sacn ] || [ ! -d build/npm/node_modules/dmxnet ]; then
  step "$label: npm packages sacn and dmxnet into build/npm"
  mkdir -p build/npm
  if ! npm_log="$(npm install --prefix build/npm --no-audit --no-fund --loglevel=error sacn dmxnet 2>&1)"; then
    echo "$npm_log" >&2
    echo "$label: npm install of sacn and dmxnet failed (is the npm registry reachable?)" >&2
    exit 1
  fi
  echo "npm: sacn $(node -p "require('./build/npm/node_modules/sacn/package.json').version") and dmxnet $(node -p "require('./build/npm/node_modules/dmxnet/package.json').version") installed"
fi

scratch="$(mktemp -d)"
bridge_pid=""
capture_pid=""
cleanup() {
  [ -n "$bridge_pid" ] && kill "$bridge_pid" 2>/dev/null || true
  [ -n "$capture_pid" ] && kill "$capture_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  # OMBRIX_KEEP_SCRATCH=1 keeps the capture and logs for a look afterwards.
  if [ -n "${OMBRIX_KEEP_SCRATCH:-}" ]; then echo "kept $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT

# Four distinct free UDP ports on loopback.
read -r BRIDGE_SACN_PORT BRIDGE_ARTNET_PORT RECEIVER_SACN_PORT RECEIVER_ARTNET_PORT < <(node -e '
  const dgram = require("dgram");
  const sockets = [0, 1, 2, 3].map(() => dgram.createSocket("udp4"));
  let bound = 0;
  sockets.forEach((s) => s.bind(0, "127.0.0.1", () => {
    if (++bound === sockets.length) {
      console.log(sockets.map((t) => t.address().port).join(" "));
      sockets.forEach((t) => t.close());
    }
  }));')
export BRIDGE_SACN_PORT BRIDGE_ARTNET_PORT RECEIVER_SACN_PORT RECEIVER_ARTNET_PORT
ports=("$BRIDGE_SACN_PORT" "$BRIDGE_ARTNET_PORT" "$RECEIVER_SACN_PORT" "$RECEIVER_ARTNET_PORT")

step "$label: capture on lo, start the bridge"
capture="$scratch/bridge.pcapng"
filter="udp and (port ${ports[0]} or port ${ports[1]} or port ${ports[2]} or port ${ports[3]})"
tshark -i lo -f "$filter" -w "$capture" -q 2>"$scratch/tshark.log" &
capture_pid=$!
for _ in $(seq 100); do grep -q "Capturing on" "$scratch/tshark.log" && break; sleep 0.1; done
grep -q "Capturing on" "$scratch/tshark.log" || { cat "$scratch/tshark.log" >&2; echo "$label: tshark did not start" >&2; exit 1; }

"${bridge_command[@]}" --sim --sim-loopback bridge --bind 127.0.0.1 --unicast-only \
  --sacn-port "$BRIDGE_SACN_PORT" --artnet-port "$BRIDGE_ARTNET_PORT" \
  --out SIM0000000000001=sacn:1 --in SIM0000000000001=sacn:2 \
  --out SIM0000000000002=artnet:0:0:1 --in SIM0000000000002=artnet:0:0:2 \
  --sacn-target "127.0.0.1:$RECEIVER_SACN_PORT" --artnet-target "127.0.0.1:$RECEIVER_ARTNET_PORT" \
  2>"$scratch/bridge.log" &
bridge_pid=$!
for _ in $(seq 100); do grep -q "connected" "$scratch/bridge.log" && break; sleep 0.1; done

run_check() {
  if ! timeout 30 node "apps/bridge/tests/interop/$1"; then
    echo "--- bridge log ---" >&2
    cat "$scratch/bridge.log" >&2
    exit 1
  fi
}
step "$label: sacn Sender -> bridge -> simulated wire -> loopback -> sacn Receiver"
run_check sacn_roundtrip.js
step "$label: dmxnet ArtDmx in and out"
run_check dmxnet_roundtrip.js
step "$label: ArtPoll finds the node"
run_check artpoll.js

step "$label: SIG$stop_signal ends the bridge cleanly"
kill "-$stop_signal" "$bridge_pid"
bridge_status=0
wait "$bridge_pid" || bridge_status=$?
bridge_pid=""
grep -q "stopped: sACN streams terminated" "$scratch/bridge.log" && [ "$bridge_status" -eq 0 ] || {
  cat "$scratch/bridge.log" >&2
  echo "$label: the bridge did not stop cleanly (exit $bridge_status)" >&2
  exit 1
}
sleep 0.5
kill -INT "$capture_pid"
wait "$capture_pid" || true
capture_pid=""

step "$label: tshark dissects every packet the bridge sent"
# sACN has no port of its own in tshark: its dissector finds it by content.
decode=(--enable-heuristic acn -o acn.dmx_enable:TRUE)
for port in "${ports[1]}" "${ports[3]}"; do decode+=(-d "udp.port==$port,artnet"); done
# A filter tshark refuses is an error of this script, never a count of 0.
dissect() {
  local lines
  lines="$(tshark -r "$capture" "${decode[@]}" -Y "$1" 2>"$scratch/dissect.log")" || { cat "$scratch/dissect.log" >&2; echo "tshark refused the filter $1" >&2; exit 1; }
  [ -z "$lines" ] && echo 0 || echo "$lines" | wc -l
}
malformed=$(dissect "_ws.malformed || _ws.expert.severity == error")
sacn_data=$(dissect "acn && udp.srcport == $BRIDGE_SACN_PORT")
terminated=$(dissect "acn.dmx.option_s == 1 && udp.srcport == $BRIDGE_SACN_PORT")
poll_replies=$(dissect "artnet.header.opcode == 0x2100 && udp.srcport == $BRIDGE_ARTNET_PORT")
art_dmx=$(dissect "artnet.header.opcode == 0x5000 && udp.srcport == $BRIDGE_ARTNET_PORT")
echo "captured from the bridge: $sacn_data sACN ($terminated stream-terminated), $poll_replies ArtPollReply, $art_dmx ArtDmx; malformed: $malformed"
if [ "$malformed" -ne 0 ]; then
  tshark -r "$capture" "${decode[@]}" -Y "_ws.malformed || _ws.expert.severity == error" -V 2>/dev/null | head -80 >&2
  echo "$label: tshark found malformed packets" >&2
  exit 1
fi
if [ "$sacn_data" -eq 0 ] || [ "$poll_replies" -eq 0 ] || [ "$art_dmx" -eq 0 ] || [ "$terminated" -lt 3 ]; then
  echo "$label: tshark did not see every kind of packet the bridge sends" >&2
  exit 1
fi
step "$label: passed"

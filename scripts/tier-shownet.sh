#!/usr/bin/env bash
# Show-network tier: the bridge on a network of its own, with real multicast.
# As root it makes three network namespaces, a desk and two bridge nodes,
# joined by veth pairs to a Linux bridge in the desk's namespace, with
# addresses from 198.18.0.0/24 (the benchmarking range) that exist only in
# there; each node's default route leads to the desk and nowhere else, so
# nothing can leave the namespaces. Each node runs `ombrix bridge` on 32
# simulated interfaces looped back (32 universes in by multicast, every
# interface's input out on two universes: 64 per node), with the default
# limit of 20 multicast groups per socket. The desk drives them with
# packets of its own and receives with the npm sacn Receiver
# (apps/bridge/tests/shownet/desk.js): 30 s at 44 packets/s with nothing
# lost, both Force_Synchronization cases, odd-length ArtDmx and two Physical
# ports, the poll reply, universe discovery, a main and a backup desk with
# the main's cable cut and mended (every packet a desk's look, never a mix or
# a fail-safe between them), a console's ArtAddress re-patch that survives
# kill -9 through the state file (and a damaged state file reported and
# ignored), node A's Art-Net input sent by unicast to node B because B's
# poll reply lists it as an output (no ArtDmx broadcast); tshark on a node's
# veth must find nothing malformed. Where namespaces cannot be made it says SKIPPED.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

if [ "$(id -u)" -ne 0 ]; then
  skipped "show-network tier: needs root to make network namespaces"
  exit 0
fi
ensure_packages tshark nodejs iproute2
command -v npm >/dev/null || ensure_packages npm

run=$$
desk=ombrix-desk-$run
node_a=ombrix-node-a-$run
node_b=ombrix-node-b-$run
main_desk=ombrix-main-desk-$run
backup_desk=ombrix-backup-desk-$run
scratch="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for namespace in "$node_a" "$node_b" "$desk" "$main_desk" "$backup_desk"; do ip netns del "$namespace" 2>/dev/null || true; done
  if [ -n "${OMBRIX_KEEP_SCRATCH:-}" ]; then echo "kept $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! ip netns add "$desk" 2>"$scratch/netns.log"; then
  skipped "show-network tier: network namespaces cannot be made here ($(head -n 1 "$scratch/netns.log"))"
  exit 0
fi

step "show network: build the tool and the npm peers"
cmake --preset default -DOMBRIX_BUILD_TOOLS=ON >/dev/null
cmake --build --preset default -j 2 --target ombrix >/dev/null
tool="$PWD/build/default/apps/ombrix/ombrix"
if [ ! -d build/npm/node_modules/sacn ] || [ ! -d build/npm/node_modules/dmxnet ]; then
  mkdir -p build/npm
  npm install --prefix build/npm --no-audit --no-fund --loglevel=error sacn dmxnet >/dev/null ||
    { echo "npm install of sacn and dmxnet failed (is the npm registry reachable?)" >&2; exit 1; }
fi

step "show network: namespaces $desk, $node_a, $node_b on 198.18.0.0/24"
in_desk() { ip netns exec "$desk" "$@"; }
ip -n "$desk" link set lo up
ip -n "$desk" link add show type bridge
# Snooping off: the desk's bridge floods multicast to both nodes as a plain
# switch without an IGMP querier would.
ip -n "$desk" link set show type bridge mcast_snooping 0
ip -n "$desk" addr add 198.18.0.1/24 dev show
ip -n "$desk" link set show up
# The desk joins every input universe of both nodes on one socket: its own
# namespace's limit is raised (the sysctl is per namespace); the nodes keep
# the default 20.
in_desk sysctl -q -w net.ipv4.igmp_max_memberships=1024
# add_host NAMESPACE N: a host at 198.18.0.N, its eth0 on the desk's
# switch as port N, its default route to the desk.
add_host() {
  local namespace=$1 number=$2
  ip netns add "$namespace"
  ip -n "$desk" link add "port$number" type veth peer name eth0 netns "$namespace"
  ip -n "$desk" link set "port$number" master show up
  ip -n "$namespace" link set lo up
  ip -n "$namespace" addr add "198.18.0.$number/24" dev eth0
  ip -n "$namespace" link set eth0 up
  ip -n "$namespace" route add default via 198.18.0.1 dev eth0
}
add_host "$node_a" 2
add_host "$node_b" 3
[ "$(ip netns exec "$node_a" sysctl -n net.ipv4.igmp_max_memberships)" -le 20 ] ||
  { echo "the node's namespace allows more than 20 groups per socket; the test would prove nothing" >&2; exit 1; }
mac_a="$(ip -n "$node_a" -o link show eth0 | sed -E 's/.*link\/ether ([0-9a-f:]+).*/\1/')"

# start_node NAMESPACE LOG ARGUMENTS...: the bridge on 32 looped-back
# simulated interfaces, its status page on the namespace's own loopback.
start_node() {
  local namespace=$1 log=$2
  shift 2
  ip netns exec "$namespace" "$tool" --sim --sim-devices 32 --sim-loopback bridge --http 127.0.0.1:8080 "$@" 2>"$log" &
  pids+=($!)
  for _ in $(seq 200); do
    [ "$(grep -c ' connected$' "$log" || true)" -ge "$WANT_CONNECTED" ] && return 0
    sleep 0.1
  done
  cat "$log" >&2
  echo "the bridge in $namespace did not connect its interfaces" >&2
  exit 1
}
stop_nodes() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
serial() { printf 'SIM%013d' "$1"; }
desk_js() { in_desk timeout 90 node apps/bridge/tests/shownet/desk.js "$@"; }

# Node A chooses its network itself (the default route's); node B is told
# by name. Both take universes 1-32 from the desk; A sends its inputs on
# 101-132 and 201-232, B on 301-332 and 401-432.
args_a=() args_b=() inputs=()
for i in $(seq 32); do
  args_a+=(--out "$(serial "$i")=sacn:$i" --in "$(serial "$i")=sacn:$((100 + i))" --in "$(serial "$i")=sacn:$((200 + i))")
  args_b+=(--out "$(serial "$i")=sacn:$i" --in "$(serial "$i")=sacn:$((300 + i))" --in "$(serial "$i")=sacn:$((400 + i))")
  inputs+=($((100 + i)) $((200 + i)) $((300 + i)) $((400 + i)))
done
WANT_CONNECTED=32
step "show network: two nodes, 32 interfaces each, real multicast"
start_node "$node_a" "$scratch/node-a.log" "${args_a[@]}"
start_node "$node_b" "$scratch/node-b.log" --bind eth0 "${args_b[@]}"
first_line="$(grep -m1 'listening for sACN' "$scratch/node-a.log")"
echo "node A: $first_line"
echo "$first_line" | grep -q "on eth0 (198.18.0.2), the default route's" ||
  { echo "the first status line does not name the interface the node chose" >&2; exit 1; }
grep -q "on eth0 (198.18.0.3)" "$scratch/node-b.log" || { cat "$scratch/node-b.log" >&2; echo "--bind eth0 was not used" >&2; exit 1; }
if grep -E "not joined" "$scratch/node-a.log" "$scratch/node-b.log"; then
  echo "a node could not join its universes' groups" >&2
  exit 1
fi

step "show network: 30 s of 32 universes in and 128 back out at 44 packets/s, tshark on node A's veth"
# tshark runs in the desk's namespace, where port2 is: the first 6 s.
# (ip netns exec runs it in its own process, so $! is tshark's pid.)
ip netns exec "$desk" tshark -i port2 -a duration:6 -w "$scratch/load.pcapng" -q 2>"$scratch/tshark-load.log" &
pids+=($!)
for _ in $(seq 100); do grep -q "Capturing on" "$scratch/tshark-load.log" 2>/dev/null && break; sleep 0.1; done
# Where a packet was lost, the kernel's UDP counters of each namespace say
# which socket dropped it.
udp_counters() {
  for namespace in "$desk" "$node_a" "$node_b"; do
    echo "  $namespace: $(ip netns exec "$namespace" awk '/^Udp:/ { if (!h) { split($0, n); h = 1 } else { for (i = 2; i <= NF; i++) if (n[i] ~ /Errors/) printf "%s=%s ", n[i], $i } }' /proc/net/snmp)"
  done
}
load_output="$(desk_js load 30 32 "${inputs[@]}")" || { echo "$load_output"; echo "UDP counters:"; udp_counters; exit 1; }
echo "$load_output" | head -n 1
sent="$(echo "$load_output" | tail -n 1 | sed -E 's/.*"sent":([0-9]+).*/\1/')"
# Every packet the desk sent reached both nodes: the status page counts
# what each source's stream gave.
for namespace in "$node_a" "$node_b"; do
  ip netns exec "$namespace" node -e '
    const sent = Number(process.argv[1]);
    require("http").get("http://127.0.0.1:8080/api/status", (response) => {
      let body = "";
      response.on("data", (chunk) => (body += chunk));
      response.on("end", () => {
        const status = JSON.parse(body);
        const short = status.universes.filter((u) => u.sources.reduce((n, s) => n + s.packets, 0) !== sent);
        console.log(`${process.argv[2]}: ${status.universes.length} universes received, ${status.universes.length - short.length} with all ${sent} packets`);
        if (short.length) { console.error("FAILED: short: " + short.map((u) => u.universe + "=" + u.sources.map((s) => s.packets)).join(" ")); process.exit(1); }
      });
    }).on("error", (e) => { console.error("FAILED: status page: " + e.message); process.exit(1); });' "$sent" "$namespace"
done

step "show network: universe discovery seen by the desk"
desk_js discovery "${inputs[@]}"

step "show network: Force_Synchronization 0 and 1 with the sync group joined beyond 32 groups"
desk_js sync 0 101
sleep 3  # the first run's source times out on the node before the second starts
# The sync group is joined while a source syncs on it and left once none
# does (/proc/net/igmp lists groups in hex, low byte first: 239.255.27.88).
node_groups() { ip netns exec "$node_a" cat /proc/net/igmp; }
desk_js sync 1 101 &
sync_pid=$!
joined=no
for _ in $(seq 100); do node_groups | grep -q 581BFFEF && { joined=yes; break; }; sleep 0.1; done
wait "$sync_pid" || exit 1
[ "$joined" = yes ] || { echo "node A never joined the sync group 7000" >&2; exit 1; }
left=no
for _ in $(seq 150); do node_groups | grep -q 581BFFEF || { left=yes; break; }; sleep 0.1; done
[ "$left" = yes ] || { echo "node A did not leave the sync group 7000 once no source used it" >&2; exit 1; }
echo "sync group 7000 joined while used and left after"

step "show network: Art-Net: odd-length ArtDmx and two Physical ports of one controller"
stop_nodes
WANT_CONNECTED=2
ip netns exec "$desk" tshark -i port2 -a duration:120 -w "$scratch/artnet.pcapng" -q 2>"$scratch/tshark-artnet.log" &
artnet_capture=$!
pids+=($artnet_capture)
for _ in $(seq 100); do grep -q "Capturing on" "$scratch/tshark-artnet.log" 2>/dev/null && break; sleep 0.1; done
start_node "$node_a" "$scratch/node-a-artnet.log" \
  --out "$(serial 1)=artnet:0:0:1" --in "$(serial 1)=sacn:101" --out "$(serial 2)=artnet:0:0:2" --in "$(serial 2)=sacn:102"
desk_js artnet 198.18.0.2 101 102 "$mac_a"
kill -INT "$artnet_capture"
wait "$artnet_capture" 2>/dev/null || true
stop_nodes

step "show network: a main and a backup desk; the main's cable cut and mended"
# Each desk in a namespace of its own on the show network, so that pulling
# its port on the desk's switch cuts it alone.
add_host "$main_desk" 11
add_host "$backup_desk" 12
cat >"$scratch/two-desks.toml" <<'TOML'
[[interface]]
serial = "SIM0000000000001"
out = "sacn:50"
in = "sacn:550"

[[universe]]
universe = "sacn:50"
merge = "backup"
primary = "198.18.0.11"
backup = "Backup desk"
takeback_seconds = 2
loss = "zero"
TOML
WANT_CONNECTED=1
start_node "$node_b" "$scratch/node-b-desks.log" --bind eth0 --config "$scratch/two-desks.toml"
in_desk timeout 60 node apps/bridge/tests/shownet/backup_desks.js watch 198.18.0.1 550 23 >"$scratch/watch.log" 2>&1 &
watcher=$!
ip netns exec "$main_desk" timeout 60 node apps/bridge/tests/shownet/backup_desks.js desk main 198.18.0.11 50 22 &
pids+=($!)
ip netns exec "$backup_desk" timeout 60 node apps/bridge/tests/shownet/backup_desks.js desk backup 198.18.0.12 50 22 &
pids+=($!)
# until_logged COUNT TEXT: waits (up to 10 s) until node B has logged TEXT COUNT times.
until_logged() {
  for _ in $(seq 100); do
    [ "$(grep -c "$2" "$scratch/node-b-desks.log" || true)" -ge "$1" ] && return 0
    sleep 0.1
  done
  cat "$scratch/node-b-desks.log" >&2
  echo "node B never logged \"$2\" $1 time(s)" >&2
  exit 1
}
until_logged 1 "sacn:50: the primary source's look is shown"
sleep 2  # the watcher sees the main's look for a while
ip -n "$desk" link set port11 down
until_logged 1 "sacn:50: the primary source is lost; the backup's look is shown"
sleep 2
ip -n "$desk" link set port11 up
until_logged 2 "sacn:50: the primary source's look is shown"
wait "$watcher" || { cat "$scratch/watch.log" >&2; exit 1; }
cat "$scratch/watch.log"
grep -E "sacn:50: (the primary|every source)" "$scratch/node-b-desks.log" | sed 's/^/node B: /'
stop_nodes

step "show network: a console re-patches node A by ArtAddress; kill -9, and the patch is still there"
state="$scratch/node-a.state"
patch_args=(--out "$(serial 1)=artnet:0:0:1" --manage 198.18.0.1/32 --state "$state")
start_node "$node_a" "$scratch/node-a-patch.log" "${patch_args[@]}"
desk_js repatch 198.18.0.2
grep -q "198.18.0.1 re-patched output artnet:0:0:1 to artnet:0:1:3" "$scratch/node-a-patch.log" ||
  { cat "$scratch/node-a-patch.log" >&2; echo "node A did not log the re-patch with its sender" >&2; exit 1; }
kill -9 "${pids[-1]}"
wait "${pids[-1]}" 2>/dev/null || true
pids=()
start_node "$node_a" "$scratch/node-a-restarted.log" "${patch_args[@]}"
desk_js patched 198.18.0.2 1 3
stop_nodes
# A state file cut short (as a power cut in the middle of a write cannot
# leave one, but a full disk might): reported in one line, ignored whole.
truncate -s "$(($(stat -c %s "$state") / 2))" "$state"
start_node "$node_a" "$scratch/node-a-damaged.log" "${patch_args[@]}"
grep -q "The state file $state is damaged" "$scratch/node-a-damaged.log" ||
  { cat "$scratch/node-a-damaged.log" >&2; echo "the damaged state file was not reported" >&2; exit 1; }
desk_js patched 198.18.0.2 0 1
stop_nodes

step "show network: node A's Art-Net input reaches node B by subscription, not by broadcast"
# page_until NAMESPACE CONDITION WHAT: polls the node's /api/status (up to
# 15 s) until the JavaScript CONDITION on it, the parsed status s, holds.
page_until() {
  ip netns exec "$1" node -e '
    const [condition, what] = process.argv.slice(1);
    const holds = new Function("s", "return " + condition);
    const end = Date.now() + 15000;
    const get = () => require("http").get("http://127.0.0.1:8080/api/status", (response) => {
      let body = "";
      response.on("data", (chunk) => (body += chunk));
      response.on("end", () => {
        if (response.statusCode === 200 && holds(JSON.parse(body))) { console.log(what); process.exit(0); }
        retry();
      });
    }).on("error", retry);
    const retry = () => {
      if (Date.now() > end) { console.error("FAILED: never: " + what); process.exit(1); }
      setTimeout(get, 200);
    };
    get();' "$2" "$3"
}
ip netns exec "$desk" tshark -i port2 -a duration:60 -w "$scratch/subscribe.pcapng" -q 2>"$scratch/tshark-subscribe.log" &
subscribe_capture=$!
pids+=($subscribe_capture)
for _ in $(seq 100); do grep -q "Capturing on" "$scratch/tshark-subscribe.log" 2>/dev/null && break; sleep 0.1; done
start_node "$node_b" "$scratch/node-b-subscribed.log" --bind eth0 --out "$(serial 1)=artnet:0:0:9"
start_node "$node_a" "$scratch/node-a-subscribing.log" --in "$(serial 1)=artnet:0:0:9"
page_until "$node_a" 's.subscribers.some((n) => n.address === "198.18.0.3" && n.universes.includes("artnet:0:0:9"))' \
  "node A lists node B as a subscriber of artnet:0:0:9"
page_until "$node_b" \
  's.universes.some((u) => u.universe === "artnet:0:0:9" && u.sources.some((x) => x.address === "198.18.0.2" && x.packets > 2))' \
  "node B receives node A's ArtDmx on artnet:0:0:9"
kill -INT "$subscribe_capture"
wait "$subscribe_capture" 2>/dev/null || true
stop_nodes
# Ethernet, IPv4 and UDP headers are 42 bytes: the Art-Net OpCode (little
# endian) is at 50.
count() { tshark -r "$scratch/subscribe.pcapng" -Y "$1" 2>/dev/null | wc -l; }
polls="$(count 'ip.dst == 198.18.0.255 && udp.dstport == 6454 && frame[50:2] == 00:20')"
unicast="$(count 'ip.src == 198.18.0.2 && ip.dst == 198.18.0.3 && udp.dstport == 6454 && frame[50:2] == 00:50')"
broadcast="$(count 'ip.dst == 198.18.0.255 && frame[50:2] == 00:50')"
echo "node A: $polls ArtPoll to the subnet's broadcast, $unicast ArtDmx to node B, $broadcast ArtDmx broadcast"
[ "$polls" -gt 0 ] && [ "$unicast" -gt 0 ] && [ "$broadcast" -eq 0 ] ||
  { echo "node A should poll by broadcast and send its ArtDmx to node B alone" >&2; exit 1; }

step "show network: a join the kernel refuses is reported once in the log and on the page"
# Node B's namespace allows no group at all now: every join fails.
ip netns exec "$node_b" sysctl -q -w net.ipv4.igmp_max_memberships=0
start_node "$node_b" "$scratch/node-b-refused.log" --bind eth0 --out "$(serial 1)=sacn:1" --out "$(serial 2)=sacn:2"
[ "$(grep -c 'sacn:1: multicast group not joined' "$scratch/node-b-refused.log")" -eq 1 ] ||
  { cat "$scratch/node-b-refused.log" >&2; echo "the refused join was not logged once" >&2; exit 1; }
ip netns exec "$node_b" node -e '
  const get = () => require("http").get("http://127.0.0.1:8080/api/status", (response) => {
    let body = "";
    response.on("data", (chunk) => (body += chunk));
    response.on("end", () => {
      if (response.statusCode !== 200) return setTimeout(get, 200);
      const universe = JSON.parse(body).universes.find((u) => u.universe === "sacn:1");
      if (!universe || !universe.join_error) { console.error("FAILED: the page does not show the refused join"); process.exit(1); }
      console.log(`the page shows sacn:1: ${universe.join_error}`);
    });
  }).on("error", () => setTimeout(get, 200));
  get();'
stop_nodes

step "show network: tshark dissects every packet on node A's veth"
decode=(--enable-heuristic acn -o acn.dmx_enable:TRUE)
for capture in load artnet; do
  file="$scratch/$capture.pcapng"
  [ -s "$file" ] || { cat "$scratch/tshark-$capture.log" >&2; echo "no capture of the $capture phase" >&2; exit 1; }
  total="$(tshark -r "$file" "${decode[@]}" 2>/dev/null | wc -l)"
  bad="$(tshark -r "$file" "${decode[@]}" -Y "_ws.malformed || _ws.expert.severity == error" 2>/dev/null | wc -l)"
  sacn="$(tshark -r "$file" "${decode[@]}" -Y "acn" 2>/dev/null | wc -l)"
  echo "$capture: $total packets captured, $sacn sACN; malformed: $bad"
  if [ "$bad" -ne 0 ]; then
    tshark -r "$file" "${decode[@]}" -Y "_ws.malformed || _ws.expert.severity == error" -V 2>/dev/null | head -60 >&2
    echo "tshark found malformed packets" >&2
    exit 1
  fi
  [ "$sacn" -gt 0 ] || { echo "tshark saw no sACN in the $capture phase" >&2; exit 1; }
done
step "show network: passed"

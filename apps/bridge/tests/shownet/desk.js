// The desk of the show-network tier, run in the desk's network namespace:
// it sends sACN by multicast (packets of its own, built here from E1.31) and
// ArtDmx by unicast, and receives what the bridge nodes send with the
// independent sacn package's Receiver, counting every packet and every gap
// in each stream's sequence. One check per run:
//   node desk.js load SECONDS OUT_COUNT IN_UNIVERSES...  32 universes out at 44/s, every input stream back, none lost
//   node desk.js sync FORCE NODE_IN                      Force_Synchronization 0 or 1 when sync packets stop
//   node desk.js artnet NODE_IP IN_ODD IN_PHYSICAL NODE_MAC  odd-length ArtDmx, two Physical ports, the poll reply
//   node desk.js discovery UNIVERSES...                  every input universe announced on 64214
//   node desk.js repatch NODE_IP                         ArtAddress: output 1 to artnet:0:1:3, named "Truss L"
//   node desk.js patched NODE_IP SUB UNI                 the poll reply shows output 1 on artnet:0:SUB:UNI
// Prints one line per finding; exits 1 on the first failure.
'use strict';

const dgram = require('dgram');
const path = require('path');
const { Receiver } = require(path.resolve(__dirname, '../../../../build/npm/node_modules/sacn'));

const DESK = process.env.DESK_ADDRESS || '198.18.0.1';
const SACN_PORT = 5568;
const ARTNET_PORT = 6454;
const CID = Buffer.from('6f6d6272697864657368756e6574a001', 'hex');

function fail(text) {
  console.error(`FAILED: ${text}`);
  process.exit(1);
}
function group(universe) { return `239.255.${universe >> 8}.${universe & 0xff}`; }
function after(ms) { return new Promise((resolve) => setTimeout(resolve, ms)); }
async function until(what, test, seconds) {
  const end = Date.now() + seconds * 1000;
  while (Date.now() < end) {
    if (test()) return;
    await after(20);
  }
  fail(`${what} (waited ${seconds} s)`);
}

// ---- sACN packets of our own, from E1.31 ----
function flagsLength(buffer, at) { buffer.writeUInt16BE(0x7000 | (buffer.length - at), at); }
function sacnData(universe, sequence, slots, { syncAddress = 0, force = false } = {}) {
  const b = Buffer.alloc(126 + slots.length);
  b.writeUInt16BE(0x0010, 0); b.writeUInt16BE(0, 2); b.write('ASC-E1.17\0\0\0', 4, 'latin1');
  flagsLength(b, 16); b.writeUInt32BE(4, 18); CID.copy(b, 22);
  flagsLength(b, 38); b.writeUInt32BE(2, 40); b.write('show-network desk', 44, 'latin1');
  b[108] = 100; b.writeUInt16BE(syncAddress, 109); b[111] = sequence & 0xff; b[112] = force ? 0x20 : 0;
  b.writeUInt16BE(universe, 113);
  flagsLength(b, 115); b[117] = 2; b[118] = 0xa1; b.writeUInt16BE(0, 119); b.writeUInt16BE(1, 121);
  b.writeUInt16BE(slots.length + 1, 123); b[125] = 0; Buffer.from(slots).copy(b, 126);
  return b;
}
function sacnSync(syncAddress, sequence) {
  const b = Buffer.alloc(49);
  b.writeUInt16BE(0x0010, 0); b.write('ASC-E1.17\0\0\0', 4, 'latin1');
  flagsLength(b, 16); b.writeUInt32BE(8, 18); CID.copy(b, 22);
  flagsLength(b, 38); b.writeUInt32BE(1, 40); b[44] = sequence & 0xff; b.writeUInt16BE(syncAddress, 45);
  return b;
}
function artDmx(portAddress, sequence, physical, data) {
  const b = Buffer.alloc(18 + data.length);
  b.write('Art-Net\0', 0, 'latin1'); b.writeUInt16LE(0x5000, 8); b.writeUInt16BE(14, 10);
  b[12] = sequence; b[13] = physical; b[14] = portAddress & 0xff; b[15] = portAddress >> 8;
  b.writeUInt16BE(data.length, 16); Buffer.from(data).copy(b, 18);
  return b;
}

function multicastSender() {
  const socket = dgram.createSocket({ type: 'udp4', reuseAddr: true });
  return new Promise((resolve) => socket.bind(0, DESK, () => {
    socket.setMulticastInterface(DESK);
    socket.setMulticastTTL(1);
    socket.setMulticastLoopback(false);
    resolve(socket);
  }));
}

// The npm receiver over the given universes; tracks each stream.
function receive(universes) {
  const streams = new Map();  // universe -> { cid -> { last, packets, gaps } }
  const latest = new Map();   // universe -> payload of the newest packet
  const receiver = new Receiver({ universes, iface: DESK, reuseAddr: true });
  // Two nodes' 128 streams arrive in bursts; a desk kept off the CPU for a
  // moment must not lose them in its own socket (the kernel caps this at
  // net.core.rmem_max).
  receiver.socket.on('listening', () => receiver.socket.setRecvBufferSize(4 << 20));
  receiver.on('error', (error) => fail(`sacn Receiver: ${error.message}`));
  receiver.on('PacketCorruption', (error) => fail(`a node sent a packet the sacn package calls corrupt: ${error.message}`));
  receiver.on('PacketOutOfOrder', (error) => fail(error.message));
  receiver.on('packet', (packet) => {
    const key = `${packet.universe}`;
    if (!streams.has(key)) streams.set(key, new Map());
    const byCid = streams.get(key);
    const cid = packet.cid.toString('hex');
    const stream = byCid.get(cid) || { last: -1, packets: 0, gaps: 0 };
    if (stream.last >= 0) stream.gaps += (packet.sequence - stream.last - 1 + 256) % 256;
    stream.last = packet.sequence;
    stream.packets += 1;
    byCid.set(cid, stream);
    latest.set(packet.universe, packet.payloadAsBuffer || Buffer.alloc(0));
  });
  return { receiver, streams, latest };
}

async function load(seconds, outCount, inUniverses) {
  const { streams } = receive(inUniverses);
  const socket = await multicastSender();
  const sequences = new Array(outCount + 1).fill(0);
  let frames = 0;
  const start = Date.now();
  // 44 frames a second, every universe changing in every frame, timed
  // against the start so that a late timer does not slow the rate.
  while (Date.now() - start < seconds * 1000) {
    const slots = new Uint8Array(512);
    for (let u = 1; u <= outCount; u += 1) {
      slots[0] = frames & 0xff; slots[1] = (frames >> 8) & 0xff; slots[2] = u;
      socket.send(sacnData(u, sequences[u]++, slots), SACN_PORT, group(u));
    }
    frames += 1;
    const next = start + (frames * 1000) / 44;
    await after(Math.max(0, next - Date.now()));
  }
  await after(1500);  // the last packets on their way back
  let lost = 0, packets = 0, slowest = Infinity;
  for (const universe of inUniverses) {
    const byCid = streams.get(`${universe}`);
    if (!byCid || byCid.size !== 1) fail(`input universe ${universe}: ${byCid ? byCid.size : 0} sources instead of one`);
    const [stream] = byCid.values();
    lost += stream.gaps;
    packets += stream.packets;
    slowest = Math.min(slowest, stream.packets / seconds);
  }
  console.log(`desk sent ${frames} frames x ${outCount} universes (${(frames / seconds).toFixed(1)} per second each); ` +
              `received ${packets} packets on ${inUniverses.length} input universes, slowest ${slowest.toFixed(1)} pkt/s, ` +
              `lost by sequence: ${lost}`);
  if (lost !== 0) fail(`${lost} packets of the nodes' input streams lost`);
  // Input follows the desk's changes at the DMX rate; far below it, frames
  // were lost on the way in or out.
  if (slowest < 40) fail(`an input universe came back at ${slowest.toFixed(1)} packets/s, not about 44`);
  console.log(JSON.stringify({ sent: frames }));
  process.exit(0);
}

// Universe 1 synchronised on universe 7000, looped back to nodeIn.
async function sync(force, nodeIn) {
  const SYNC = 7000;
  const { latest } = receive([nodeIn]);
  const socket = await multicastSender();
  let sequence = 0, syncSequence = 0, level = 10, syncing = true;
  const data = () => {
    const slots = new Uint8Array(512); slots[0] = level;
    socket.send(sacnData(1, sequence++, slots, { syncAddress: SYNC, force }), SACN_PORT, group(1));
  };
  const timer = setInterval(() => {
    data();
    if (syncing) socket.send(sacnSync(SYNC, syncSequence++), SACN_PORT, group(SYNC));
  }, 1000 / 44);
  const back = () => (latest.get(nodeIn) || [])[0];
  await until(`synchronised level ${level} never came back (was the sync group ${SYNC} joined?)`, () => back() === 10, 10);
  syncing = false;
  level = 77;  // new data while sync packets have stopped
  if (force) {
    await until('with Force_Synchronization 1 the output did not follow the data once sync was lost',
      () => back() === 77, 8);
    console.log('force sync 1: output follows the data once sync is lost');
  } else {
    // 2.5 s to lose sync and as long again: the look must stay.
    const end = Date.now() + 5000;
    while (Date.now() < end) {
      if (back() !== 10) fail(`with Force_Synchronization 0 the output changed to ${back()} without a sync packet`);
      await after(20);
    }
    syncing = true;
    await until('the held data did not go out when sync resumed', () => back() === 77, 8);
    console.log('force sync 0: output held while sync was lost, released when it resumed');
  }
  clearInterval(timer);
  process.exit(0);
}

async function artnet(nodeIp, inOdd, inPhysical, nodeMac) {
  const { latest } = receive([inOdd, inPhysical]);
  const socket = dgram.createSocket({ type: 'udp4', reuseAddr: true });
  await new Promise((resolve) => socket.bind(ARTNET_PORT, DESK, resolve));
  let reply = null;
  socket.on('message', (message) => {
    if (message.length >= 239 && message.readUInt16LE(8) === 0x2100) reply = message;
  });
  let sequence = 1;
  const timer = setInterval(() => {
    sequence = sequence === 255 ? 1 : sequence + 1;
    socket.send(artDmx(0x0001, sequence, 0, [11, 22, 33]), ARTNET_PORT, nodeIp);  // three channels
    socket.send(artDmx(0x0002, sequence, 0, [200, 0]), ARTNET_PORT, nodeIp);      // two ports of one
    socket.send(artDmx(0x0002, sequence, 1, [0, 150]), ARTNET_PORT, nodeIp);      // controller
  }, 1000 / 30);
  const odd = () => latest.get(inOdd) || [];
  const merged = () => latest.get(inPhysical) || [];
  await until('ArtDmx with 3 channels did not reach the wire', () => odd()[0] === 11 && odd()[2] === 33, 10);
  console.log('odd-length ArtDmx (3 channels) reached the wire');
  await until('Physical 0 and 1 of one address were not merged as two sources',
    () => merged()[0] === 200 && merged()[1] === 150, 10);
  console.log('ArtDmx from Physical 0 and 1 of one address merged as two sources');
  const poll = Buffer.alloc(14); poll.write('Art-Net\0', 0, 'latin1'); poll.writeUInt16LE(0x2000, 8); poll.writeUInt16BE(14, 10);
  socket.send(poll, ARTNET_PORT, nodeIp);
  await until('no ArtPollReply', () => reply !== null, 5);
  const mac = [...reply.slice(201, 207)].map((b) => b.toString(16).padStart(2, '0')).join(':');
  if (mac !== nodeMac.toLowerCase()) fail(`ArtPollReply MAC ${mac}, the node's interface has ${nodeMac}`);
  if ((reply[213] & 0xc0) !== 0xc0) fail(`GoodOutputB ${reply[213]} claims RDM or delta output`);
  console.log(`ArtPollReply gives the bound interface's MAC ${mac}, no RDM, continuous output`);
  clearInterval(timer);
  process.exit(0);
}

async function discovery(universes) {
  const socket = dgram.createSocket({ type: 'udp4', reuseAddr: true });
  const announced = new Set();
  socket.on('message', (b) => {
    // Root vector 8 (extended), framing vector 2 (discovery), then the list.
    if (b.length < 120 || b.readUInt32BE(18) !== 8 || b.readUInt32BE(40) !== 2) return;
    for (let at = 120; at + 1 < b.length; at += 2) announced.add(b.readUInt16BE(at));
  });
  await new Promise((resolve) => socket.bind(SACN_PORT, () => {
    socket.addMembership(group(64214), DESK);
    resolve();
  }));
  await until(`universe discovery did not list every input universe (${universes.filter((u) => !announced.has(u)).length} missing)`,
    () => universes.every((u) => announced.has(u)), 25);
  console.log(`universe discovery on 64214 listed all ${universes.length} input universes`);
  process.exit(0);
}

// Sends what send() makes to the node's Art-Net port until a poll reply
// shows output 1 on artnet:0:SUB:UNI (5 s at most).
async function awaitPatch(nodeIp, send, subNet, universe, what) {
  const socket = dgram.createSocket({ type: 'udp4', reuseAddr: true });
  await new Promise((resolve) => socket.bind(ARTNET_PORT, DESK, resolve));
  let reply = null;
  socket.on('message', (message) => {
    if (message.length >= 239 && message.readUInt16LE(8) === 0x2100) reply = message;
  });
  socket.send(send(), ARTNET_PORT, nodeIp);
  await until(`no ArtPollReply after ${what}`, () => reply !== null, 5);
  const name = reply.slice(26, 44).toString('latin1').replace(/\0.*$/s, '');
  if (reply[19] !== subNet || reply[190] !== universe) {
    fail(`after ${what} the reply shows output 1 on SubNet ${reply[19]} Universe ${reply[190]}, not ${subNet} and ${universe}`);
  }
  console.log(`after ${what}: output 1 on artnet:0:${subNet}:${universe}, node "${name}"`);
  socket.close();
  return name;
}

function artAddress() {
  const b = Buffer.alloc(107);
  b.write('Art-Net\0', 0, 'latin1'); b.writeUInt16LE(0x6000, 8); b.writeUInt16BE(14, 10);
  b[12] = 0x7f; b[13] = 1; b.write('Truss L', 14, 'latin1');
  b.fill(0x7f, 96, 104); b[100] = 0x83;  // output 1: Universe 3
  b[104] = 0x81; b[105] = 0xff; b[106] = 0;  // SubNet 1, no command
  return b;
}

function artPoll() {
  const b = Buffer.alloc(14); b.write('Art-Net\0', 0, 'latin1'); b.writeUInt16LE(0x2000, 8); b.writeUInt16BE(14, 10);
  return b;
}

async function repatch(nodeIp) {
  const name = await awaitPatch(nodeIp, artAddress, 1, 3, 'the ArtAddress');
  if (name !== 'Truss L') fail(`the node is named "${name}" after the ArtAddress`);
  process.exit(0);
}

async function patched(nodeIp, subNet, universe) {
  await awaitPatch(nodeIp, artPoll, subNet, universe, 'a poll');
  process.exit(0);
}

const [mode, ...args] = process.argv.slice(2);
const numbers = args.map(Number);
if (mode === 'load') load(numbers[0], numbers[1], numbers.slice(2));
else if (mode === 'sync') sync(numbers[0] === 1, numbers[1]);
else if (mode === 'artnet') artnet(args[0], numbers[1], numbers[2], args[3]);
else if (mode === 'discovery') discovery(numbers);
else if (mode === 'repatch') repatch(args[0]);
else if (mode === 'patched') patched(args[0], numbers[1], numbers[2]);
else fail(`unknown mode ${mode}`);

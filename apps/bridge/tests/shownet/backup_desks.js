// A main and a backup desk on a show network, and a watcher of what a node
// does with them, for the show-network tier. Each desk runs in a namespace
// of its own, so that the tier can cut one desk's cable; both send the same
// universe by multicast with the independent sacn package's Sender, each a
// look of its own:
//   main:   even slots 200, odd slots 60
//   backup: even slots 70,  odd slots 190
// An HTP mix of the two (200, 190, 200, 190 ...) is neither, and so are a
// fail-safe's zeros. The watcher receives what the node's looped-back
// interface sends on, with the same package's Receiver, and checks it
// packet by packet: every 32-slot block must be the main's or the backup's.
// A block may change from one desk's to the other's part-way, once, where
// the node read it while the interface was writing it; a mix alternates
// slot by slot.
//   node backup_desks.js desk main|backup ADDRESS UNIVERSE SECONDS
//   node backup_desks.js watch ADDRESS UNIVERSE SECONDS
// The watcher prints the looks it saw in order (M main, B backup) and
// exits 1 on a look that is neither, or when it did not see main, then
// backup, then main again.
'use strict';

const path = require('path');
const { Sender, Receiver } = require(path.resolve(__dirname, '../../../../build/npm/node_modules/sacn'));

const SLOTS = 512;
const LOOKS = {
  main: Array.from({ length: SLOTS }, (_, i) => (i % 2 === 0 ? 200 : 60)),
  backup: Array.from({ length: SLOTS }, (_, i) => (i % 2 === 0 ? 70 : 190)),
};
const CIDS = { main: 'a1', backup: 'b2' };

function fail(text) {
  console.error(`FAILED: ${text}`);
  process.exit(1);
}

function desk(which, address, universe, seconds) {
  const look = LOOKS[which];
  if (!look) fail(`no desk "${which}"`);
  const payload = {};
  look.forEach((level, i) => { payload[i + 1] = level; });
  const sender = new Sender({
    universe,
    iface: address,
    reuseAddr: true,
    minRefreshRate: 44,
    defaultPacketOptions: {
      sourceName: which === 'main' ? 'Main desk' : 'Backup desk',
      cid: Buffer.from(CIDS[which].repeat(16), 'hex'),
      useRawDmxValues: true,
    },
  });
  // While the tier has its cable cut, sends fail; the desk goes on as a
  // console would, and is heard again once the cable is back.
  sender.on('error', () => {});
  sender.send({ payload }).catch(() => {});
  setTimeout(() => { sender.close(); process.exit(0); }, seconds * 1000);
}

// What one 32-slot block shows: 'M', 'B', 'Z' (dark, before the node first
// showed a desk), 'T' (one of those changing to another part-way), or null
// for a block that is neither.
function blockOf(levels, start, darkAllowed) {
  let switches = 0, last = null;
  for (let i = start; i < start + 32; i++) {
    const which = levels[i] === LOOKS.main[i] ? 'M' : levels[i] === LOOKS.backup[i] ? 'B' :
      levels[i] === 0 && darkAllowed ? 'Z' : null;
    if (which === null) return null;
    if (last !== null && which !== last) switches++;
    last = which;
  }
  return switches === 0 ? last : switches === 1 ? 'T' : null;
}

function watch(address, universe, seconds) {
  const receiver = new Receiver({ universes: [universe], iface: address, reuseAddr: true });
  const seen = [];
  let packets = 0, started = false;
  receiver.on('packet', (packet) => {
    const raw = packet.payloadAsBuffer;
    if (!raw) return;
    const levels = Array.from(raw.subarray(0, SLOTS));
    packets++;
    const blocks = [];
    // Until the node first shows a whole desk's look, its interface's input
    // is dark, then filling in block by block.
    for (let start = 0; start < SLOTS; start += 32) blocks.push(blockOf(levels, start, !started));
    const wrong = blocks.indexOf(null);
    if (wrong >= 0) {
      const at = wrong * 32;
      fail(`packet ${packets} shows a look that is neither desk's: slots ${at + 1}-${at + 32} are ` +
        `${levels.slice(at, at + 32).join(',')}`);
    }
    const look = blocks.every((b) => b === 'M') ? 'M' : blocks.every((b) => b === 'B') ? 'B' : null;
    started = started || look !== null;
    if (look && seen[seen.length - 1] !== look) seen.push(look);
  });
  receiver.on('error', (error) => fail(`receiver: ${error.message}`));
  setTimeout(() => {
    receiver.close();
    const order = seen.join(' ');
    console.log(`${packets} packets of sacn:${universe}, each block the main's or the backup's; looks in order: ${order}`);
    if (order !== 'M B M') fail(`expected the main desk's look, then the backup's, then the main's again: ${order}`);
    process.exit(0);
  }, seconds * 1000);
}

const [mode, ...rest] = process.argv.slice(2);
if (mode === 'desk') desk(rest[0], rest[1], Number(rest[2]), Number(rest[3]));
else if (mode === 'watch') watch(rest[0], Number(rest[1]), Number(rest[2]));
else fail('usage: backup_desks.js desk main|backup ADDRESS UNIVERSE SECONDS | watch ADDRESS UNIVERSE SECONDS');

// The sacn package's Sender sends universe 1 to the bridge (unicast); the
// bridge puts it on the wire of a simulated interface whose output is looped
// back to its input, and the input comes back as universe 2 to the sacn
// package's Receiver.
'use strict';

const common = require('./common');
const { Sender, Receiver } = common.require('sacn');

const bridgePort = common.port('BRIDGE_SACN_PORT');
const receiverPort = common.port('RECEIVER_SACN_PORT');
common.deadline(15, 'universe 1 did not come back as universe 2');

const payload = { 1: 255, 2: 128, 100: 7, 512: 1 };
const receiver = new Receiver({ universes: [2], port: receiverPort, iface: '127.0.0.1', reuseAddr: true });
// Joining multicast on loopback may be refused; the bridge sends unicast here.
receiver.on('error', () => {});
receiver.on('PacketCorruption', (error) => common.fail(`the bridge sent a corrupt packet: ${error.message}`));
receiver.on('packet', (packet) => {
  if (packet.universe !== 2) return;
  const raw = packet.payloadAsBuffer;
  if (!raw) return;
  const same = Object.entries(payload).every(([channel, value]) => raw[Number(channel) - 1] === value);
  if (same) {
    if (!packet.sourceName.includes('ombrix')) common.fail(`source name "${packet.sourceName}" does not name the bridge`);
    common.pass(`sacn Sender universe 1 -> simulated wire -> loopback -> sacn Receiver universe 2 (from "${packet.sourceName}")`);
  }
});

const sender = new Sender({ universe: 1, port: bridgePort, useUnicastDestination: '127.0.0.1', minRefreshRate: 5,
  defaultPacketOptions: { sourceName: 'interop sender', useRawDmxValues: true } });
sender.send({ payload }).catch((error) => common.fail(`sacn Sender: ${error.message}`));

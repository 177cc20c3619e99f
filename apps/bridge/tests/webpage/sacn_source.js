// A minimal sACN (E1.31) data source for the page test: builds data
// packets byte by byte and sends them by unicast to the bridge on
// 127.0.0.1, so the test controls everything a source can say (name, CID,
// priority, preview, stream terminated).
'use strict';

const dgram = require('dgram');

const OPTION_PREVIEW = 0x80;
const OPTION_TERMINATED = 0x40;

function dataPacket({ cid, name, priority, sequence, options, universe, levels }) {
  const slots = levels.length;
  const packet = Buffer.alloc(126 + slots);
  packet.writeUInt16BE(0x0010, 0);  // preamble size
  packet.writeUInt16BE(0x0000, 2);  // post-amble size
  packet.write('ASC-E1.17\0\0\0', 4, 'latin1');
  packet.writeUInt16BE(0x7000 | (packet.length - 16), 16);
  packet.writeUInt32BE(0x00000004, 18);  // root vector: data
  cid.copy(packet, 22, 0, 16);
  packet.writeUInt16BE(0x7000 | (packet.length - 38), 38);
  packet.writeUInt32BE(0x00000002, 40);  // framing vector: data
  Buffer.from(name, 'utf8').subarray(0, 63).copy(packet, 44);
  packet.writeUInt8(priority, 108);
  packet.writeUInt16BE(0, 109);  // no synchronisation
  packet.writeUInt8(sequence & 0xff, 111);
  packet.writeUInt8(options, 112);
  packet.writeUInt16BE(universe, 113);
  packet.writeUInt16BE(0x7000 | (packet.length - 115), 115);
  packet.writeUInt8(0x02, 117);  // DMP vector: set property
  packet.writeUInt8(0xa1, 118);  // address and data type
  packet.writeUInt16BE(0, 119);  // first property address
  packet.writeUInt16BE(1, 121);  // address increment
  packet.writeUInt16BE(slots + 1, 123);
  packet.writeUInt8(0, 125);  // start code: levels
  Buffer.from(levels).copy(packet, 126);
  return packet;
}

// One source: a CID, a name and a priority; send() puts out the next packet.
class SacnSource {
  constructor(socket, port, { cidByte, name, priority = 100, universe, preview = false }) {
    this.socket = socket;
    this.port = port;
    this.cid = Buffer.alloc(16, cidByte);
    this.name = name;
    this.priority = priority;
    this.universe = universe;
    this.preview = preview;
    this.sequence = 0;
    this.levels = new Uint8Array(512);
  }

  cidText() {
    const hex = this.cid.toString('hex');
    return `${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;
  }

  packet(terminated = false) {
    const options = (this.preview ? OPTION_PREVIEW : 0) | (terminated ? OPTION_TERMINATED : 0);
    return dataPacket({ cid: this.cid, name: this.name, priority: this.priority,
      sequence: this.sequence++, options, universe: this.universe, levels: this.levels });
  }

  send(terminated = false) {
    this.socket.send(this.packet(terminated), this.port, '127.0.0.1');
  }
}

function openSocket() {
  return new Promise((resolve) => {
    const socket = dgram.createSocket('udp4');
    socket.bind(0, '127.0.0.1', () => resolve(socket));
  });
}

module.exports = { SacnSource, openSocket };

// A controller's ArtPoll to the bridge: the node answers with an
// ArtPollReply naming itself and its ports. (dmxnet answers polls but sends
// none of its own, so the poll is built here; tshark dissects the reply.)
'use strict';

const dgram = require('dgram');
const common = require('./common');

const bridgePort = common.port('BRIDGE_ARTNET_PORT');
common.deadline(10, 'no ArtPollReply came');

const socket = dgram.createSocket('udp4');
socket.on('message', (message) => {
  if (message.length < 239 || message.toString('latin1', 0, 8) !== 'Art-Net\0') return;
  if (message.readUInt16LE(8) !== 0x2100) return;
  const shortName = message.toString('latin1', 26, 44).replace(/\0.*$/s, '');
  const ports = message.readUInt16BE(172);
  if (!shortName.includes('ombrix')) common.fail(`the reply names "${shortName}"`);
  if (ports < 1) common.fail('the reply lists no port');
  common.pass(`ArtPollReply from "${shortName}" with ${ports} port(s), bind index ${message[211]}`);
});
socket.bind(0, '127.0.0.1', () => {
  const poll = Buffer.from([...Buffer.from('Art-Net\0', 'latin1'), 0x00, 0x20, 0x00, 14, 0x00, 0x00]);
  socket.send(poll, bridgePort, '127.0.0.1');
});

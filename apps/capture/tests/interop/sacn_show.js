// A show from an independent sACN implementation: the npm sacn package's
// Sender sends FRAMES frames of universe 1 to 127.0.0.1:PORT (unicast) at
// 25 frames per second, frame i with channels 1-4 = i % 256, (3 i) % 256,
// 255 - i % 256, 7 and channel 512 = i % 2 (show_frames.py expects these).
//   node sacn_show.js PORT FRAMES
'use strict';

const path = require('path');
module.paths.unshift(path.join(__dirname, '..', '..', '..', '..', 'build', 'npm', 'node_modules'));
const { Sender } = require('sacn');

const port = Number(process.argv[2]);
const frames = Number(process.argv[3]);
const sender = new Sender({ universe: 1, port, useUnicastDestination: '127.0.0.1',
  defaultPacketOptions: { sourceName: 'record tier show', useRawDmxValues: true } });

let i = 0;
const timer = setInterval(() => {
  const payload = { 1: i % 256, 2: (3 * i) % 256, 3: 255 - (i % 256), 4: 7, 512: i % 2 };
  sender.send({ payload }).catch((error) => {
    console.error(`FAILED: sacn Sender: ${error.message}`);
    process.exit(1);
  });
  if (++i === frames) {
    clearInterval(timer);
    setTimeout(() => { sender.close(); console.log(`sent ${frames} frames`); }, 200);
  }
}, 40);

// dmxnet sends ArtDmx to port-address 0:0:1 of the bridge; the simulated
// interface loops it back and the bridge sends it as ArtDmx on 0:0:2 to the
// target where a dmxnet receiver listens.
'use strict';

const common = require('./common');
const { dmxnet } = common.require('dmxnet');

const bridgePort = common.port('BRIDGE_ARTNET_PORT');
const listenPort = common.port('RECEIVER_ARTNET_PORT');
common.deadline(15, 'ArtDmx on 0:0:1 did not come back on 0:0:2');

// hosts: only loopback, so that dmxnet's own announcements stay on it.
const node = new dmxnet({ listen: listenPort, hosts: ['127.0.0.1'], log: { level: 'error' } });
const receiver = node.newReceiver({ net: 0, subnet: 0, universe: 2 });
receiver.on('data', (data) => {
  if (data.length === 512 && data[0] === 200 && data[1] === 17 && data[511] === 3) {
    common.pass('dmxnet ArtDmx 0:0:1 -> simulated wire -> loopback -> dmxnet receiver 0:0:2');
  }
});
const sender = node.newSender({ ip: '127.0.0.1', port: bridgePort, net: 0, subnet: 0, universe: 1,
  base_refresh_interval: 200 });
sender.prepChannel(0, 200);
sender.prepChannel(1, 17);
sender.prepChannel(511, 3);
sender.transmit();

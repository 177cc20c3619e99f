// The status page's cost, printed beside its goals (never asserted):
//   CPU of the bridge process with 32 universes changing at 44 packets/s,
//   without --http and with the page's event stream open (goal: at most 2 %
//   of one core more);
//   latency of a level change through the bridge and back with the page
//   open and without (goal: unchanged): sACN universe 1 -> simulated wire
//   -> simulated loopback -> sACN universe 101 to this script.
// Everything on 127.0.0.1. Usage (after building the tool):
//   node bench/page_bench.js [SECONDS]   (each run, default 20)
// OMBRIX_TOOL names the ombrix binary (default build/default/tools/ombrix/ombrix).
'use strict';

const fs = require('fs');
const path = require('path');
const http = require('http');
const dgram = require('dgram');
const { spawn } = require('child_process');
const { SacnSource, openSocket } = require('../tests/webpage/sacn_source');

const root = path.join(__dirname, '..');
const tool = process.env.OMBRIX_TOOL || path.join(root, 'build', 'default', 'tools', 'ombrix', 'ombrix');
const seconds = Number(process.argv[2] || 20);
const UNIVERSES = 32;
const TICKS_PER_SECOND = 100;  // USER_HZ on Linux

function freeUdpPort() {
  return new Promise((resolve) => {
    const socket = dgram.createSocket('udp4');
    socket.bind(0, '127.0.0.1', () => {
      const { port } = socket.address();
      socket.close(() => resolve(port));
    });
  });
}

function cpuTicks(pid) {
  const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  return Number(fields[11]) + Number(fields[12]);  // utime + stime
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function percentile(sorted, p) {
  return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(p * sorted.length))] : NaN;
}

// Keeps one event stream open and reads everything, as a page does.
function openStream(port) {
  let bytes = 0;
  let events = 0;
  let tail = '';
  const request = http.get({ host: '127.0.0.1', port, path: '/events' }, (response) => {
    response.on('data', (chunk) => {
      bytes += chunk.length;
      // Events start with "data: "; the tail catches one split between chunks.
      const text = tail + chunk.toString('latin1');
      events += text.split('data: ').length - 1;
      tail = text.slice(-5);
    });
  });
  request.on('error', () => {});
  return { close: () => request.destroy(), stats: () => ({ bytes, events }) };
}

async function run(withPage) {
  const [sacnPort, artnetPort, httpPort, receiverPort] = [await freeUdpPort(), await freeUdpPort(),
    await freeUdpPort(), await freeUdpPort()];
  const args = ['--sim', '--sim-devices', String(UNIVERSES), '--sim-loopback', 'bridge', '--bind', '127.0.0.1',
    '--unicast-only', '--sacn-port', String(sacnPort), '--artnet-port', String(artnetPort),
    '--sacn-target', `127.0.0.1:${receiverPort}`];
  for (let u = 1; u <= UNIVERSES; u++) {
    const serial = `SIM${String(u).padStart(13, '0')}`;
    args.push('--out', `${serial}=sacn:${u}`);
  }
  args.push('--in', 'SIM0000000000001=sacn:101');
  if (withPage) args.push('--http', `127.0.0.1:${httpPort}`);
  const bridge = spawn(tool, args, { stdio: ['ignore', 'ignore', 'pipe'] });
  let log = '';
  bridge.stderr.on('data', (chunk) => { log += chunk; });
  // Opening 32 simulated interfaces takes a few seconds.
  const last = `SIM${String(UNIVERSES).padStart(13, '0')} connected`;
  for (let i = 0; i < 600 && !log.includes(last); i++) await sleep(50);

  const socket = await openSocket();
  const receiver = dgram.createSocket('udp4');
  await new Promise((resolve) => receiver.bind(receiverPort, '127.0.0.1', resolve));
  const sources = [];
  for (let u = 1; u <= UNIVERSES; u++) sources.push(new SacnSource(socket, sacnPort, { cidByte: u, name: 'bench', universe: u }));
  // Slot 1 of universe 1 carries a marker that changes every packet; its
  // send time is kept until it comes back on universe 101.
  const sent = new Map();
  const latencies = [];
  receiver.on('message', (message) => {
    if (message.length < 127 || message.readUInt16BE(113) !== 101) return;
    const marker = message[126];
    const at = sent.get(marker);
    if (at !== undefined) {
      latencies.push(Number(process.hrtime.bigint() - at) / 1e6);
      sent.delete(marker);
    }
  });
  const stream = withPage ? openStream(httpPort) : null;
  await sleep(1000);

  let frame = 0;
  const sender = setInterval(() => {
    frame++;
    for (const source of sources) {
      for (let i = 1; i < 512; i++) source.levels[i] = (frame + i) & 0xff;  // every slot moves
    }
    const marker = (frame % 250) + 1;
    sources[0].levels[0] = marker;
    sent.set(marker, process.hrtime.bigint());
    for (const source of sources) source.send();
  }, 1000 / 44);
  const startTicks = cpuTicks(bridge.pid);
  const start = process.hrtime.bigint();
  await sleep(seconds * 1000);
  const cpu = (cpuTicks(bridge.pid) - startTicks) / TICKS_PER_SECOND / (Number(process.hrtime.bigint() - start) / 1e9);
  clearInterval(sender);
  const streamed = stream ? stream.stats() : null;
  if (stream) stream.close();
  bridge.kill('SIGTERM');
  await new Promise((resolve) => bridge.on('exit', resolve));
  socket.close();
  receiver.close();
  latencies.sort((a, b) => a - b);
  return { cpu, latencies, streamed };
}

function report(name, result) {
  const { cpu, latencies, streamed } = result;
  let line = `  ${name}: bridge CPU ${(cpu * 100).toFixed(1)} % of one core; level change there and back ` +
    `median ${percentile(latencies, 0.5).toFixed(2)} ms, p99 ${percentile(latencies, 0.99).toFixed(2)} ms ` +
    `(${latencies.length} changes)`;
  if (streamed) {
    line += `; page stream ${(streamed.events / seconds).toFixed(1)} events/s, ` +
      `${(streamed.bytes / seconds / 1024).toFixed(0)} KiB/s`;
  }
  console.log(line);
}

async function main() {
  console.log(`Status page: ${UNIVERSES} universes changing at 44 packets/s, ${seconds} s per run ` +
    '(goals: CPU at most 2 % of one core more with the page open; latency unchanged)');
  const without = await run(false);
  report('without the page', without);
  const withPage = await run(true);
  report('with the page open', withPage);
  console.log(`  difference: ${((withPage.cpu - without.cpu) * 100).toFixed(1)} % of one core (goal <= 2 %), ` +
    `median latency ${(percentile(withPage.latencies, 0.5) - percentile(without.latencies, 0.5)).toFixed(2)} ms`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});

// The status page's cost, printed beside its goals (never asserted):
//   CPU of the bridge process with 32 universes changing at 44 packets/s,
//   without --http and with the page's event stream open (goal: at most 2 %
//   of one core more);
//   latency of a level change through the bridge and back with the page
//   open and without (goal: unchanged): sACN universe 1 -> simulated wire
//   -> simulated loopback -> sACN universe 101 to this script.
// Everything on 127.0.0.1. Usage (after building the tool):
//   node bench/page_bench.js [SECONDS]   (each of four phases, default 20)
// OMBRIX_TOOL names the ombrix binary (default build/default/apps/ombrix/ombrix).
'use strict';

const fs = require('fs');
const path = require('path');
const http = require('http');
const dgram = require('dgram');
const { spawn } = require('child_process');
const { SacnSource, openSocket } = require('../apps/bridge/tests/webpage/sacn_source');

const root = path.join(__dirname, '..');
const tool = process.env.OMBRIX_TOOL || path.join(root, 'build', 'default', 'apps', 'ombrix', 'ombrix');
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

// One bridge (with --http) under load throughout; phases without and with
// the page's stream open alternate, so that both see the same process and,
// as far as possible, the same machine (other work on it comes and goes).
async function runPhases(phases) {
  const [sacnPort, artnetPort, httpPort, receiverPort] = [await freeUdpPort(), await freeUdpPort(),
    await freeUdpPort(), await freeUdpPort()];
  const args = ['--sim', '--sim-devices', String(UNIVERSES), '--sim-loopback', 'bridge', '--bind', '127.0.0.1',
    '--unicast-only', '--sacn-port', String(sacnPort), '--artnet-port', String(artnetPort),
    '--sacn-target', `127.0.0.1:${receiverPort}`, '--http', `127.0.0.1:${httpPort}`];
  for (let u = 1; u <= UNIVERSES; u++) args.push('--out', `SIM${String(u).padStart(13, '0')}=sacn:${u}`);
  args.push('--in', 'SIM0000000000001=sacn:101');
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
  let latencies = [];
  receiver.on('message', (message) => {
    if (message.length < 127 || message.readUInt16BE(113) !== 101) return;
    const at = sent.get(message[126]);
    if (at !== undefined) {
      latencies.push(Number(process.hrtime.bigint() - at) / 1e6);
      sent.delete(message[126]);
    }
  });
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

  const results = [];
  for (const withPage of phases) {
    const stream = withPage ? openStream(httpPort) : null;
    // Without the page, wait out the time the bridge keeps making snapshots
    // after the last request (5 s); with it, let the stream start.
    await sleep(withPage ? 1000 : 6000);
    latencies = [];
    const startTicks = cpuTicks(bridge.pid);
    const start = process.hrtime.bigint();
    await sleep(seconds * 1000);
    const elapsed = Number(process.hrtime.bigint() - start) / 1e9;
    const cpu = (cpuTicks(bridge.pid) - startTicks) / TICKS_PER_SECOND / elapsed;
    const streamed = stream ? stream.stats() : null;
    if (stream) stream.close();
    results.push({ withPage, cpu, latencies: [...latencies].sort((a, b) => a - b), streamed, elapsed });
  }
  clearInterval(sender);
  bridge.kill('SIGTERM');
  await new Promise((resolve) => bridge.on('exit', resolve));
  socket.close();
  receiver.close();
  return results;
}

function report(result) {
  const { withPage, cpu, latencies, streamed, elapsed } = result;
  let line = `  ${withPage ? 'page open   ' : 'no page     '}: bridge CPU ${(cpu * 100).toFixed(1)} % of one core; ` +
    `level change there and back median ${percentile(latencies, 0.5).toFixed(2)} ms, ` +
    `p99 ${percentile(latencies, 0.99).toFixed(2)} ms (${latencies.length} changes)`;
  if (streamed) {
    line += `; stream ${(streamed.events / elapsed).toFixed(1)} events/s, ${(streamed.bytes / elapsed / 1024).toFixed(0)} KiB/s`;
  }
  console.log(line);
}

function mean(values) {
  return values.reduce((sum, value) => sum + value, 0) / values.length;
}

async function main() {
  console.log(`Status page: ${UNIVERSES} universes changing at 44 packets/s, phases of ${seconds} s ` +
    'without and with the page open (goals: CPU at most 2 % of one core more with the page; latency unchanged)');
  const results = await runPhases([false, true, false, true]);
  results.forEach(report);
  const without = results.filter((r) => !r.withPage);
  const withPage = results.filter((r) => r.withPage);
  const median = (group) => mean(group.map((r) => percentile(r.latencies, 0.5)));
  console.log(`  page open minus no page: CPU ${((mean(withPage.map((r) => r.cpu)) - mean(without.map((r) => r.cpu))) * 100).toFixed(1)} % ` +
    `of one core (goal <= 2 %), median latency ${(median(withPage) - median(without)).toFixed(2)} ms (goal: unchanged)`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});

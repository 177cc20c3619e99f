// The status page in a real browser: Debian's chromium, headless, driven by
// Playwright. The bridge runs on simulated interfaces with sACN sources
// played by this script over 127.0.0.1; the page must follow what they do
// (levels, owners, source list, preview and terminated sources, interfaces,
// drops), and a source named like markup must show as that text with no
// element made from it.
//
// Environment: OMBRIX_TOOL (the ombrix binary), OMBRIX_SCREENSHOT (where to
// put the screenshot; default build/webpage/bridge-page.png).
'use strict';

const path = require('path');
const fs = require('fs');
const os = require('os');
const net = require('net');
const dgram = require('dgram');
const { spawn } = require('child_process');

const root = path.join(__dirname, '..', '..', '..', '..');
module.paths.unshift(path.join(root, 'build', 'npm-web', 'node_modules'));
const { chromium } = require('playwright-core');
const { SacnSource, openSocket } = require('./sacn_source');

const HOSTILE_NAME = '<img src=x onerror=alert(1)>';
const tool = process.env.OMBRIX_TOOL || path.join(root, 'build', 'default', 'apps', 'ombrix', 'ombrix');
const screenshot = process.env.OMBRIX_SCREENSHOT || path.join(root, 'build', 'webpage', 'bridge-page.png');

let bridge = null;
let browser = null;
let profile = null;
let bridgeLog = '';
const timers = [];

function fail(message) {
  console.error(`FAILED: ${message}`);
  if (bridgeLog) console.error(`--- bridge log ---\n${bridgeLog}`);
  cleanUp();
  process.exit(1);
}

function cleanUp() {
  timers.forEach(clearInterval);
  if (bridge && bridge.exitCode === null) bridge.kill('SIGTERM');
  if (browser) browser.close().catch(() => {});
  if (profile) fs.rmSync(profile, { recursive: true, force: true });
}

function freePort(kind) {
  return new Promise((resolve, reject) => {
    if (kind === 'udp') {
      const socket = dgram.createSocket('udp4');
      socket.bind(0, '127.0.0.1', () => {
        const { port } = socket.address();
        socket.close(() => resolve(port));
      });
      return;
    }
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function distinctPorts() {
  const ports = new Set();
  while (ports.size < 3) ports.add(await freePort('udp'));
  const [sacn, artnet, sink] = [...ports];
  return { sacn, artnet, sink, http: await freePort('tcp') };
}

function startBridge(ports) {
  const args = ['--sim', '--sim-devices', '2', '--sim-loopback', 'bridge', '--bind', '127.0.0.1', '--unicast-only',
    '--sacn-port', String(ports.sacn), '--artnet-port', String(ports.artnet), '--http', `127.0.0.1:${ports.http}`,
    '--out', 'SIM0000000000001=sacn:1', '--out', 'SIM0000000000002=sacn:2', '--in', 'SIM0000000000001=sacn:3',
    '--sacn-target', `127.0.0.1:${ports.sink}`];
  bridge = spawn(tool, args, { stdio: ['ignore', 'ignore', 'pipe'] });
  bridge.stderr.on('data', (chunk) => { bridgeLog += chunk; });
  bridge.on('exit', (code) => { if (code !== 0 && code !== null) fail(`the bridge exited with ${code}`); });
  return new Promise((resolve) => {
    const started = Date.now();
    const wait = setInterval(() => {
      if (bridgeLog.includes('connected') && bridgeLog.includes('status page on')) {
        clearInterval(wait);
        resolve();
      } else if (Date.now() - started > 10000) {
        fail('the bridge did not start its status page within 10 s');
      }
    }, 50);
  });
}

// Waits until fn (run in the page) returns true; what says what failed.
async function until(page, what, fn, arg) {
  try {
    await page.waitForFunction(fn, arg, { timeout: 10000, polling: 50 });
  } catch (error) {
    fail(`${what} (${error.message.split('\n')[0]})`);
  }
  console.log(`ok: ${what}`);
}

const slot = (universe, number) => `section.universe[data-universe="${universe}"] .slot[data-slot="${number}"]`;
const sourceRow = (universe, cid) => `section.universe[data-universe="${universe}"] tr[data-key="${cid}"]`;

async function main() {
  setTimeout(() => fail('the page test did not finish within 120 s'), 120000).unref();
  const ports = await distinctPorts();
  await startBridge(ports);
  const socket = await openSocket();
  const sink = await openSocket();  // where the bridge sends universe 3; never read
  timers.push(setInterval(() => {}, 1000));

  // Universe 1: two sources at the same priority, each driving one half.
  const desk = new SacnSource(socket, ports.sacn, { cidByte: 0x11, name: 'Desk A', universe: 1 });
  const hostile = new SacnSource(socket, ports.sacn, { cidByte: 0x22, name: HOSTILE_NAME, universe: 1 });
  for (let i = 0; i < 256; i++) desk.levels[i] = (i * 7) % 200 + 40;
  for (let i = 256; i < 512; i++) hostile.levels[i] = 150;
  // Universe 2: a preview source (never output) and one that ends its stream.
  const preview = new SacnSource(socket, ports.sacn, { cidByte: 0x33, name: 'Preview desk', universe: 2, preview: true });
  const leaving = new SacnSource(socket, ports.sacn, { cidByte: 0x44, name: 'Leaving desk', universe: 2 });
  for (let i = 0; i < 512; i++) leaving.levels[i] = (i * 3) % 256;
  preview.levels.fill(255);
  let leavingOn = true;
  timers.push(setInterval(() => {
    desk.send();
    hostile.send();
    preview.send();
    if (leavingOn) leaving.send();
  }, 25));

  // A fresh profile every run, removed at the end.
  profile = fs.mkdtempSync(path.join(os.tmpdir(), 'ombrix-page-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1280, height: 1000 },
  });
  const page = await browser.newPage();
  page.on('dialog', (dialog) => fail(`the page opened a dialog: ${dialog.message()}`));
  page.on('pageerror', (error) => fail(`script error in the page: ${error.message}`));
  page.on('console', (message) => { if (message.type() === 'error') fail(`page console error: ${message.text()}`); });
  await page.goto(`http://127.0.0.1:${ports.http}/`);
  await until(page, 'the page is live', () => document.getElementById('link').textContent === 'live');
  await until(page, 'universe 1 shows 512 slots',
    () => document.querySelectorAll('section.universe[data-universe="sacn:1"] .slot').length === 512);

  // The grid follows levels as they change.
  for (const level of [10, 200, 77]) {
    desk.levels[0] = level;
    await until(page, `slot 1 of universe 1 shows ${level}`, ([selector, want]) => {
      const cell = document.querySelector(selector);
      return cell && cell.dataset.level === String(want);
    }, [slot('sacn:1', 1), level]);
  }
  // Owners: each half belongs to the source that drives it, tinted apart.
  await until(page, 'slot 1 belongs to Desk A and slot 300 to the other source', ([one, three, a, b]) => {
    const first = document.querySelector(one), second = document.querySelector(three);
    return first && second && first.dataset.owner === a && second.dataset.owner === b &&
      second.dataset.level === '150' && first.style.backgroundColor !== second.style.backgroundColor;
  }, [slot('sacn:1', 1), slot('sacn:1', 300), desk.cidText(), hostile.cidText()]);

  // The source list, and the hostile name as plain text.
  await until(page, 'the source list names both sources with CID, address and priority', ([a, b, name]) => {
    const rowA = document.querySelector(a), rowB = document.querySelector(b);
    if (!rowA || !rowB) return false;
    const text = (row, cls) => row.querySelector(`td.${cls}`).textContent;
    return text(rowA, 'name') === 'Desk A' && text(rowA, 'cid') === rowA.dataset.key &&
      text(rowA, 'address') === '127.0.0.1' && text(rowA, 'priority') === '100' &&
      text(rowB, 'name') === name && text(rowA, 'state') === 'live' && Number(text(rowA, 'rate')) > 0;
  }, [sourceRow('sacn:1', desk.cidText()), sourceRow('sacn:1', hostile.cidText()), HOSTILE_NAME]);
  const markup = await page.evaluate(([row]) => {
    const cell = document.querySelector(row).querySelector('td.name');
    return { images: document.querySelectorAll('img').length, children: cell.children.length, text: cell.textContent };
  }, [sourceRow('sacn:1', hostile.cidText())]);
  if (markup.images !== 0 || markup.children !== 0 || markup.text !== HOSTILE_NAME) {
    fail(`the hostile source name became markup: ${JSON.stringify(markup)}`);
  }
  console.log('ok: a source named <img src=x onerror=alert(1)> shows as text, no element made');

  // A higher priority takes every slot the source sends.
  hostile.priority = 150;
  await until(page, 'at priority 150 the other source owns slot 1 (level 0)', ([one, b]) => {
    const cell = document.querySelector(one);
    return cell && cell.dataset.owner === b && cell.dataset.level === '0';
  }, [slot('sacn:1', 1), hostile.cidText()]);

  // Universe 2: preview shown as such, never output; a terminated stream shown as terminated.
  await until(page, 'universe 2 lists the preview source as preview and drives only the other', ([row, two]) => {
    const previewRow = document.querySelector(row);
    const cell = document.querySelector(two);
    return previewRow && previewRow.classList.contains('preview') &&
      previewRow.querySelector('td.state').textContent.startsWith('preview') && cell && cell.dataset.level === '6';
  }, [sourceRow('sacn:2', preview.cidText()), slot('sacn:2', 3)]);
  leavingOn = false;
  for (let i = 0; i < 3; i++) leaving.send(true);
  await until(page, 'a source that terminated its stream shows as terminated', ([row]) => {
    const gone = document.querySelector(row);
    return gone && gone.classList.contains('gone') && gone.querySelector('td.state').textContent === 'terminated';
  }, [sourceRow('sacn:2', leaving.cidText())]);

  // Interfaces, universes sent, drops.
  await until(page, 'both interfaces show connected in mode 2 with their types (1 and 2)', () => {
    const rows = [...document.querySelectorAll('#interfaces tbody tr')];
    return rows.length === 2 && rows.every((row, index) => row.querySelector('td.state').textContent === 'connected' &&
      row.children[1].textContent === String(index + 1) && row.children[3].textContent === '2');
  });
  await until(page, 'the universe sent from the input is listed', () =>
    [...document.querySelectorAll('#sends tbody tr')].some((row) =>
      row.children[0].textContent === 'sacn:3' && row.children[1].textContent === 'SIM0000000000001'));
  socket.send(desk.packet().subarray(0, 100), ports.sacn, '127.0.0.1');
  await until(page, 'a truncated datagram shows in the drop table', () =>
    [...document.querySelectorAll('#drops tbody tr')].some((row) =>
      row.children[0].textContent === 'truncated' && Number(row.children[1].textContent) >= 1));

  // The picture for docs/: both desks at one priority again, each owning
  // its half; rates settled over a second.
  hostile.priority = 100;
  await until(page, 'back at priority 100, slot 1 belongs to Desk A again', ([one, a]) => {
    const cell = document.querySelector(one);
    return cell && cell.dataset.owner === a;
  }, [slot('sacn:1', 1), desk.cidText()]);
  await page.waitForTimeout(1200);
  fs.mkdirSync(path.dirname(screenshot), { recursive: true });
  await page.screenshot({ path: screenshot, fullPage: true });
  console.log(`ok: screenshot in ${path.relative(root, screenshot)}`);

  const dialogFree = await page.evaluate(() => document.querySelectorAll('img, script:not([src])').length === 0);
  if (!dialogFree) fail('an element appeared that the page never makes');
  await browser.close();
  browser = null;
  bridge.kill('SIGTERM');
  await new Promise((resolve) => bridge.on('exit', resolve));
  if (!bridgeLog.includes('stopped: sACN streams terminated')) fail('the bridge did not stop cleanly with the page open');
  timers.forEach(clearInterval);
  socket.close();
  sink.close();
  fs.rmSync(profile, { recursive: true, force: true });
  console.log('ok: the status page follows the bridge');
}

main().catch((error) => fail(error.stack || String(error)));

// Shared by the interop scripts: the ports the tier chose, a deadline that
// fails the check loudly, and how a check reports.
'use strict';

const path = require('path');

// The npm packages live in build/npm (installed by scripts/tier-bridge.sh).
module.paths.unshift(path.join(__dirname, '..', '..', '..', '..', 'build', 'npm', 'node_modules'));

function port(name) {
  const value = Number(process.env[name]);
  if (!Number.isInteger(value) || value < 1 || value > 65535) fail(`${name} is not set to a port`);
  return value;
}

function fail(message) {
  console.error(`FAILED: ${message}`);
  process.exit(1);
}

function pass(message) {
  console.log(`ok: ${message}`);
  process.exit(0);
}

// Every check ends within seconds whatever happens.
function deadline(seconds, what) {
  setTimeout(() => fail(`${what} within ${seconds} s`), seconds * 1000).unref();
}

module.exports = { port, fail, pass, deadline, require: (name) => require(name) };

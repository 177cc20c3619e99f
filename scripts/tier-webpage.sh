#!/usr/bin/env bash
# Status page tier: the bridge's page (--http) in a real browser. Debian's
# chromium runs headless, driven by Playwright (playwright-core from npm,
# which uses the installed chromium and downloads no browser), against a
# bridge on simulated interfaces fed by sACN sources on 127.0.0.1, on ports
# the test picks. Leaves a screenshot in build/webpage/bridge-page.png
# (docs/bridge-page.png is one of these). Fails loudly on any step.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_build_packages
ensure_packages chromium nodejs
command -v npm >/dev/null || ensure_packages npm

step "status page: build the tool"
quietly cmake --preset default -DOMBRIX_BUILD_TOOLS=ON
quietly cmake --build --preset default -j 2 --target ombrix

step "status page: playwright-core from npm into build/npm-web"
mkdir -p build/npm-web
quietly npm install --prefix build/npm-web --no-audit --no-fund --loglevel=error playwright-core@1 || {
  echo "status page: npm install of playwright-core failed (is the npm registry reachable?)" >&2
  exit 1
}
echo "npm: playwright-core $(node -p "require('./build/npm-web/node_modules/playwright-core/package.json').version") installed"

step "status page: chromium headless follows a running bridge"
OMBRIX_TOOL="$PWD/build/default/apps/ombrix/ombrix" timeout 180 node apps/bridge/tests/webpage/page_test.js
step "status page: passed"

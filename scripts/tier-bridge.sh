#!/usr/bin/env bash
# Bridge interop tier: the bridge on simulated interfaces with loopback,
# driven by independent implementations of the protocols (the npm packages
# sacn and dmxnet, and a plain ArtPoll), all on 127.0.0.1 with ports chosen
# here, while tshark captures the traffic and must find no malformed
# packet (apps/bridge/tests/interop/run.sh, which the Windows tool's tier runs
# too). Bounded in time; fails loudly on any step, the npm registry being
# unreachable included.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_packages tshark nodejs
command -v npm >/dev/null || ensure_packages npm

step "bridge interop: build the tool"
cmake --preset default -DOMBRIX_BUILD_TOOLS=ON >/dev/null
cmake --build --preset default -j 2 --target ombrix >/dev/null
tool=build/default/apps/ombrix/ombrix

exec bash apps/bridge/tests/interop/run.sh --install -- "$tool"

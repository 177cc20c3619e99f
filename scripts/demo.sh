#!/usr/bin/env bash
# Builds the library and runs the demo on simulated interfaces.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
ensure_build_packages
echo "building the demo (build/default) ..."
quietly cmake --preset default
quietly cmake --build --preset default -j "$(nproc)" --target ombrix ombrix_usb_sim ombrix_list_demo
if [ -x build/default/apps/ombrix/ombrix ]; then
  exec build/default/apps/ombrix/ombrix demo "$@"
fi
exec build/default/examples/ombrix_list_demo

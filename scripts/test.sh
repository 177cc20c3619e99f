#!/usr/bin/env bash
# Runs every test tier: installs what is missing, builds and runs the suite
# plain, with AddressSanitizer+UBSan and with ThreadSanitizer, then the
# Windows (Wine), Linux hidraw (QEMU) and install-tree tiers. Fails loudly
# on any failing test or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_build_packages

# Sanitizer reports end the run: ASan/UBSan abort, TSan exits non-zero.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

for preset in default asan tsan; do
  step "native build and tests: $preset"
  cmake --preset "$preset" -DOMBRIX_BUILD_TOOLS=ON >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
  ctest --preset "$preset" -j 2 --timeout 600
done

for tier in scripts/tier-*.sh; do
  [ -f "$tier" ] || continue
  step "tier: $tier"
  bash "$tier"
done

step "all test tiers passed"

#!/usr/bin/env bash
# Runs every test tier: installs what is missing, builds and runs the suite
# plain, with AddressSanitizer+UBSan and with ThreadSanitizer, then every
# scripts/tier-*.sh (Windows under Wine, Linux hidraw in QEMU, install tree,
# and the rest). Every tier runs even when an earlier one failed; the run
# ends with a summary and fails loudly if anything failed. What could not
# run on this machine is listed as SKIPPED, never as passed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

mkdir -p build
export OMBRIX_SKIP_LOG="$PWD/build/skipped.txt"
: >"$OMBRIX_SKIP_LOG"
: >"$OMBRIX_SETUP_LOG"
started=$SECONDS

step "packages"
ensure_build_packages
# Only the tests need tmux: it runs the tool's live views in terminals of
# given sizes.
ensure_packages tmux
echo "build and test packages present"

# Sanitizer reports end the run: ASan/UBSan abort, TSan exits non-zero.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

passed=()
failed=()
record() {  # record NAME STATUS SECONDS
  if [ "$2" -eq 0 ]; then passed+=("$1 ($3 s)"); else failed+=("$1 (status $2)"); fi
}

native_suite() {
  local preset=$1
  # Called in a list whose status is tested, where errexit does not apply:
  # each step is chained by hand so that a failed build never runs stale tests.
  quietly cmake --preset "$preset" -DOMBRIX_BUILD_TOOLS=ON &&
    cmake --build --preset "$preset" -j "$(nproc)" &&
    ctest --preset "$preset" -j 2 --timeout 600
}

step "formatting of changed C and C++ files"
tier_started=$SECONDS
status=0
bash scripts/check-format.sh || status=$?
record "formatting" "$status" $((SECONDS - tier_started))

for preset in default asan tsan; do
  step "native build and tests: $preset"
  tier_started=$SECONDS
  status=0
  native_suite "$preset" || status=$?
  record "native $preset" "$status" $((SECONDS - tier_started))
done

for tier in scripts/tier-*.sh; do
  [ -f "$tier" ] || continue
  step "tier: $tier"
  tier_started=$SECONDS
  status=0
  bash "$tier" || status=$?
  record "$(basename "$tier" .sh)" "$status" $((SECONDS - tier_started))
done

step "summary ($((SECONDS - started)) s)"
for item in "${passed[@]}"; do echo "passed:  $item"; done
for item in "${failed[@]:-}"; do [ -n "$item" ] && echo "FAILED:  $item"; done
skips=$(grep -c . "$OMBRIX_SKIP_LOG" || true)
[ "$skips" -gt 0 ] && cat "$OMBRIX_SKIP_LOG"
echo "tiers: ${#passed[@]} passed, $(( ${#failed[@]} )) failed, $skips skipped"
if [ ${#failed[@]} -gt 0 ]; then
  echo "TEST RUN FAILED" >&2
  exit 1
fi

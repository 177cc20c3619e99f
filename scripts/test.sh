#!/usr/bin/env bash
# Runs every test tier: installs what is missing, builds and runs the suite
# plain, with AddressSanitizer+UBSan and with ThreadSanitizer, then every
# scripts/tier-*.sh (Windows under Wine, Linux hidraw in QEMU, install tree,
# and the rest). Every tier runs even when an earlier one failed; the run
# ends with a summary and fails loudly if anything failed. What could not
# run on this machine is listed as SKIPPED, never as passed.
#
#   bash scripts/test.sh                 every tier
#   bash scripts/test.sh TIER...         only these (names as the run prints
#                                        them: native-asan, tier-wine, ...)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

all_tiers=(formatting native-default native-asan native-tsan)
for tier in scripts/tier-*.sh; do
  [ -f "$tier" ] && all_tiers+=("$(basename "$tier" .sh)")
done
for asked in "$@"; do
  if ! printf '%s\n' "${all_tiers[@]}" | grep -qx -- "$asked"; then
    echo "test.sh: there is no tier \"$asked\"; the tiers are: ${all_tiers[*]}" >&2
    exit 2
  fi
done
# Whether the tier was asked for: all of them when none was named.
wanted() {
  [ $# -gt 0 ] || return 1
  local name=$1
  shift
  [ $# -eq 0 ] && return 0
  printf '%s\n' "$@" | grep -qx -- "$name"
}
asked=("$@")

mkdir -p build/logs
export OMBRIX_SKIP_LOG="$PWD/build/skipped.txt"
: >"$OMBRIX_SKIP_LOG"
: >"$OMBRIX_SETUP_LOG"
rm -f build/logs/*.log build/logs/*.failure
started=$SECONDS

# Each tier's whole output (compilers, CTest's line per test, set-up) goes
# to build/logs/<tier>.log; the console gets the tiers' steps, installs,
# skips and results through say() on descriptor 3. OMBRIX_VERBOSE=1 shows
# everything as it comes.
exec 3>&1
if [ -z "${OMBRIX_VERBOSE:-}" ]; then export OMBRIX_CONSOLE_FD=3; fi

# The lines of a failed tier's log that tell what failed: GoogleTest's
# failures and their messages, CTest's list of failed tests, compiler
# errors, sanitizer reports, pytest's and node's failures, our scripts'
# FAILED lines. At most 40 of them.
failure_digest() {
  awk '
    # A GoogleTest failure: its message, up to the next test line.
    /: Failure$/ { print; body = 10; next }
    body > 0 && /^\[ |: Failure$/ { body = 0 }
    body > 0 { print; body--; next }
    /^\[  FAILED  \] [0-9]+ tests?, listed below/ || /^ *[0-9]+ FAILED TESTS?$/ { next }
    /^\[  FAILED  \]/ { print; next }
    /The following tests FAILED/ { print; tail = 4; next }
    tail > 0 { print; tail--; next }
    /^[[:space:]]+[0-9]+ - .*\((Failed|Timeout|Exception|SEGFAULT|Subprocess aborted|Child aborted)\)/ { print; next }
    /error:|^FAILED|FAILED[: ]|(^|==)(ERROR|WARNING): (Address|Thread|Leak|UndefinedBehavior)Sanitizer|runtime error:|^not ok|AssertionError/ { print; tail = 4 }
  ' "$1" | head -n 40
}

# Tests that skipped themselves inside a tier that passed are skips of the
# run as well: CTest lists them as "(Skipped)", pytest -rs as "SKIPPED [n]".
record_test_skips() {  # record_test_skips TIER LOG
  local line
  while IFS= read -r line; do
    OMBRIX_CONSOLE_FD= skipped "$1: $(echo "$line" | sed -E 's/^[[:space:]]+//')"
  done < <(grep -a -E '^[[:space:]]+[0-9]+ - .*\(Skipped\)$|^SKIPPED \[[0-9]+\]' "$2" | sort -u)
}

passed=()
failed=()
# run_tier NAME COMMAND...: runs one tier with its output in its log and
# prints its result; a failure shows what failed and the end of the log.
run_tier() {
  local name=$1 log="build/logs/$1.log" tier_started=$SECONDS status=0
  shift
  wanted "$name" "${asked[@]}" || return 0
  echo "==== $name ===="
  if [ -n "${OMBRIX_VERBOSE:-}" ]; then
    # Not "|| true": with pipefail a failed tier fails the pipeline, and the
    # status would then be true's.
    set +e
    "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    set -e
  else
    "$@" >"$log" 2>&1 || status=$?
  fi
  grep -a -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | sed 's/^/  ctest: /' || true
  record_test_skips "$name" "$log"
  if [ "$status" -eq 0 ]; then
    passed+=("$name ($((SECONDS - tier_started)) s)")
    echo "passed: $name ($((SECONDS - tier_started)) s)"
  else
    failed+=("$name")
    failure_digest "$log" >"build/logs/$name.failure" || true
    echo "FAILED: $name (status $status, $((SECONDS - tier_started)) s); what failed:"
    sed 's/^/  | /' "build/logs/$name.failure"
    echo "  ---- last 25 lines of $log ----"
    tail -n 25 "$log" | sed 's/^/  | /'
  fi
}

build_and_test_packages() {
  ensure_build_packages
  # Only the tests need tmux: it runs the tool's live views in terminals of
  # given sizes.
  ensure_packages tmux
}
echo "==== packages ===="
if ! build_and_test_packages >build/logs/packages.log 2>&1; then
  echo "FAILED: installing the build and test packages; the end of build/logs/packages.log:"
  tail -n 25 build/logs/packages.log
  exit 1
fi

# Sanitizer reports end the run: ASan/UBSan abort, TSan exits non-zero.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

native_suite() {
  local preset=$1
  # Called in a list whose status is tested, where errexit does not apply:
  # each step is chained by hand so that a failed build never runs stale tests.
  quietly cmake --preset "$preset" -DOMBRIX_BUILD_TOOLS=ON &&
    cmake --build --preset "$preset" -j "$(nproc)" &&
    ctest --preset "$preset" -j 2 --timeout 600
}

run_tier formatting bash scripts/check-format.sh

for preset in default asan tsan; do
  run_tier "native-$preset" native_suite "$preset"
done

for tier in scripts/tier-*.sh; do
  [ -f "$tier" ] || continue
  run_tier "$(basename "$tier" .sh)" bash "$tier"
done

echo
echo "==== summary ($((SECONDS - started)) s; logs in build/logs/) ===="
for item in "${passed[@]}"; do echo "passed:  $item"; done
for item in "${failed[@]:-}"; do
  [ -n "$item" ] || continue
  echo "FAILED:  $item (build/logs/$item.log)"
  head -n 20 "build/logs/$item.failure" | sed 's/^/  | /'
done
skips=$(grep -c . "$OMBRIX_SKIP_LOG" || true)
[ "$skips" -gt 0 ] && cat "$OMBRIX_SKIP_LOG"
echo "tiers: ${#passed[@]} passed, $(( ${#failed[@]} )) failed, $skips skipped"
if [ ${#asked[@]} -gt 0 ]; then
  echo "NOT A FULL RUN: only ${asked[*]} asked for; $(( ${#all_tiers[@]} - ${#asked[@]} )) other tiers not run"
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "TEST RUN FAILED" >&2
  exit 1
fi

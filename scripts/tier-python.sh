#!/usr/bin/env bash
# Python tier: the ombrix_usb package's type hints checked with mypy, its
# pytest suite on the simulator library with Debian's python3, then again on
# the AddressSanitizer+UBSan and ThreadSanitizer builds of that library
# (their runtimes preloaded, since python3 itself is not instrumented), and a
# check that pip installs the package offline from the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

ensure_packages python3 python3-pytest python3-numpy python3-setuptools python3-wheel python3-pip mypy
python=/usr/bin/python3
# Optional modules of the suite (numpy) and the real library must be there.
export OMBRIX_PYTHON_TIER=1

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1}:detect_leaks=0"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

# run_suite <preset> [runtime to preload]
run_suite() {
  local preset="$1" runtime="${2:-}"
  step "python: simulator library, $preset preset"
  quietly cmake --preset "$preset"
  # The real library too: one test loads it to check the refusal of ombrix_usb.sim.
  quietly cmake --build --preset "$preset" -j 2 --target ombrix_usb_sim ombrix_usb
  # The interpreter's own leaks are not ours: LeakSanitizer stays off.
  (cd bindings/python &&
    env ${runtime:+LD_PRELOAD="$runtime"} OMBRIX_USB_LIBRARY="$PWD/../../build/$preset/libombrix_usb_sim.so.0" \
      "$python" -m pytest -p no:cacheprovider -q -rs tests)
}

step "python: version and type hints (mypy --strict)"
# The package carries the project's version; a release bumps all three.
version="$(sed -n 's/^project(OmbrixUSB VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
grep -qx "version = \"$version\"" bindings/python/pyproject.toml &&
  grep -qx "__version__ = \"$version\"" bindings/python/ombrix_usb/__init__.py ||
  { echo "python: the package's version is not the project's ($version)" >&2; exit 1; }
(cd bindings/python && mypy --strict --no-incremental ombrix_usb)

run_suite default
run_suite asan "$(gcc -print-file-name=libasan.so)"
run_suite tsan "$(gcc -print-file-name=libtsan.so)"

step "python: pip installs the package offline"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"; rm -rf bindings/python/ombrix_usb.egg-info' EXIT
"$python" -m pip install -q --no-build-isolation --no-index --no-deps --target "$scratch" bindings/python \
  2> >(grep -v "Running pip as the 'root' user" >&2)
OMBRIX_USB_LIBRARY="$PWD/build/default/libombrix_usb_sim.so.0" PYTHONPATH="$scratch" "$python" -c '
import ombrix_usb as o, pathlib
assert pathlib.Path(o.__file__).parent.joinpath("py.typed").is_file()
o.sim.add("PIP0000000000001")
assert [i.serial for i in o.interfaces()] == ["PIP0000000000001"], o.interfaces()
'
step "python: passed"

"""The binding's tests run on the simulator library: OMBRIX_USB_LIBRARY when
set, else the one in the build tree (build/default)."""
import gc
import importlib
import os
import time
from typing import Callable, Iterator

import pytest

import ombrix_usb as o


@pytest.fixture(autouse=True)
def simulator() -> Iterator[None]:
    """Starts every test on an empty simulator and checks afterwards that the
    test left no link, no library thread and no process-wide callback."""
    o.sim.reset()
    yield
    gc.collect()  # Link objects the test dropped close now
    leftover = o.opened_interfaces()
    for name in ("on_input_change", "on_input_block", "on_interface_change"):
        setattr(o, name, None)
    assert leftover == [], "the test left links open"
    assert o.sim.library_threads() == 0
    o.sim.reset()


def needs(module: str, reason: str):
    """Imports an optional module for a test; the test tier sets
    OMBRIX_PYTHON_TIER so that a missing one fails there instead of skipping."""
    if os.environ.get("OMBRIX_PYTHON_TIER"):
        return importlib.import_module(module)
    return pytest.importorskip(module, reason=reason)


def wait_until(condition: Callable[[], bool], timeout: float = 5.0) -> bool:
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.002)
    return True


def report(*payload: int) -> bytes:
    """A 34-byte report: report ID 0, the payload bytes, then zeros."""
    return bytes([0, *payload]) + bytes(33 - len(payload))


def input_block(block: int, first: int) -> bytes:
    """An input block report whose 32 channels count up from first."""
    return report(block, *[(first + i) % 256 for i in range(32)])

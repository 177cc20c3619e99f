"""Callbacks: who gets called for what, on which thread, and what happens
to exceptions and to callbacks that try what they must not."""
import gc
import sys
import threading

import pytest

import ombrix_usb as o
from conftest import input_block, report, wait_until

SERIAL = "PYCALL0000000001"
HEARTBEAT = report(0x55)


@pytest.fixture
def device() -> int:
    return o.sim.add(SERIAL, product=0x0832)


class Recorder:
    def __init__(self):
        self.calls = []
        self.threads = set()

    def __call__(self, *arguments):
        self.calls.append(arguments)
        self.threads.add(threading.get_ident())


class TestDelivery:
    def test_input_blocks_reach_both_callbacks_off_the_main_thread(self, device):
        everywhere, per_link, changed = Recorder(), Recorder(), Recorder()
        o.on_input_block = everywhere
        o.on_input_change = changed
        with o.open(SERIAL) as link:
            link.on_input_block = per_link
            for block in range(16):
                o.sim.inject(device, input_block(block, block))
            assert wait_until(lambda: len(per_link.calls) == 16 and changed.calls)
            assert per_link.calls == [(block,) for block in range(16)]
            assert everywhere.calls == per_link.calls
            assert threading.get_ident() not in everywhere.threads | changed.threads
            link.on_input_block = None
            o.sim.inject(device, input_block(4, 0))
            assert wait_until(lambda: len(everywhere.calls) == 17)
        assert len(per_link.calls) == 16

    def test_unplug_reaches_both_interface_change_callbacks(self, device):
        everywhere, per_link = Recorder(), Recorder()
        o.on_interface_change = everywhere
        with o.open(SERIAL) as link:
            link.on_interface_change = per_link
            # Only a transfer that was outstanding fails visibly.
            assert wait_until(lambda: o.sim.pending_transfers(device) >= 1)
            o.sim.unplug(device)
            assert wait_until(lambda: everywhere.calls and per_link.calls)
            assert per_link.calls[0] == ()

    def test_heartbeat_carries_the_link_id(self, device):
        beats = Recorder()
        with o.open(SERIAL) as link:
            assert o.on_heartbeat(SERIAL, beats) == link.id
            o.sim.inject(device, HEARTBEAT)
            assert wait_until(lambda: beats.calls)
            assert beats.calls[0] == (link.id,)
            assert o.on_heartbeat(SERIAL, None) == 0
        with pytest.raises(o.LinkNotOpen):
            o.on_heartbeat(SERIAL, beats)

    def test_heartbeat_on_an_interface_without_heartbeats(self):
        o.sim.add("PYCALLOLD0000001", product=0x0830, release=0x0105)
        with o.open("PYCALLOLD0000001"):
            with pytest.raises(o.OmbrixError, match="sends no heartbeats"):
                o.on_heartbeat("PYCALLOLD0000001", print)


class TestSafety:
    def test_callbacks_without_other_references_stay_alive(self, device):
        seen = []
        with o.open(SERIAL) as link:
            link.on_input_block = lambda block: seen.append(block)
            o.on_input_block = lambda block: seen.append(-block - 1)
            gc.collect()  # only the binding holds the thunks now
            o.sim.inject(device, input_block(5, 0))
            assert wait_until(lambda: len(seen) == 2)
        assert sorted(seen) == [-6, 5]

    def test_exception_goes_to_unraisablehook_and_delivery_goes_on(self, device, monkeypatch):
        reported = []
        monkeypatch.setattr(sys, "unraisablehook", lambda report: reported.append(report.exc_value))
        blocks = []

        def faulty(block):
            blocks.append(block)
            raise RuntimeError(f"block {block}")

        with o.open(SERIAL) as link:
            link.on_input_block = faulty
            o.sim.inject(device, input_block(1, 0))
            o.sim.inject(device, input_block(2, 0))
            assert wait_until(lambda: len(reported) == 2)
            link.mode = 2  # the library still answers
        assert blocks == [1, 2]
        assert [str(error) for error in reported] == ["block 1", "block 2"]

    def test_callback_cannot_close_open_or_register(self, device):
        outcomes = []

        def misbehave(block):
            for attempt in (link.close, lambda: o.open("PYCALL0000000002"),
                            lambda: setattr(o, "on_input_change", print)):
                try:
                    attempt()
                    outcomes.append("done")
                except o.OmbrixError as error:
                    outcomes.append(str(error))
            link.mode = 2  # leaves the request, does not wait: allowed

        with o.open(SERIAL) as link:
            link.on_input_block = misbehave
            o.sim.inject(device, input_block(0, 0))
            assert wait_until(lambda: len(outcomes) == 3)
            assert all("cannot be called from a callback" in text for text in outcomes)
            assert not link.closed
            assert wait_until(lambda: report(0x10, 0x02) in [w.data for w in o.sim.writes(device)])

    def test_non_callable_is_refused(self, device):
        with pytest.raises(TypeError):
            o.on_input_change = 5
        with o.open(SERIAL) as link, pytest.raises(TypeError):
            link.on_interface_change = "print"

"""Links: lifetime, the shared buffers, output, mode and configuration as
they show on the simulated wire."""
import gc
import os
import subprocess
import sys
import threading
import weakref
from pathlib import Path

import pytest

import ombrix_usb as o
from conftest import input_block, needs, report, wait_until

SERIAL = "PYLINK0000000001"
MODE_ZERO = report(0x10, 0x00)


@pytest.fixture
def device() -> int:
    return o.sim.add(SERIAL)


def wire(device: int) -> list:
    return [write.data for write in o.sim.writes(device)]


class TestLifetime:
    def test_leaving_the_block_closes_and_sets_mode_zero(self, device):
        with o.open(SERIAL) as link:
            assert o.sim.open_handles(device) == 1
            assert link.id != 0 and link.serial == SERIAL and not link.closed
            link.mode = 2
            # The mode report and all 16 blocks: then nothing changes.
            assert wait_until(lambda: len(wire(device)) == 18)
            o.sim.clear_writes(device)
        assert link.closed
        assert o.sim.open_handles(device) == 0
        assert wire(device) == [MODE_ZERO]
        link.close()  # a second close does nothing

    def test_calls_on_a_closed_link_raise_link_not_open(self, device):
        link = o.open(SERIAL)
        link.close()
        calls = [lambda: link.send(bytes(512)), lambda: setattr(link, "mode", 2),
                 lambda: link.mode, lambda: link.set_tx_config(1, 2, 3, 4, 5),
                 link.store_tx_config, lambda: link.config,
                 lambda: setattr(link, "on_input_block", print)]
        for call in calls:
            with pytest.raises(o.LinkNotOpen):
                call()

    def test_link_closed_by_other_code_is_noticed(self, device):
        link = o.open(SERIAL)
        from ombrix_usb import _library
        assert _library.get().CloseAllLinks() == 1
        with pytest.raises(o.LinkNotOpen):
            link.mode = 2
        assert link.closed

    def test_absent_interface_and_second_open(self, device):
        with pytest.raises(o.InterfaceNotFound, match="NOSUCHINTERFACE1"):
            o.open("NOSUCHINTERFACE1")
        with o.open(SERIAL) as link:
            # The library would keep the first link and ignore new buffers.
            with pytest.raises(o.OmbrixError, match="already open"):
                o.open(SERIAL.encode())
            assert not link.closed and o.sim.open_handles(device) == 1

    def test_links_left_open_are_closed_at_exit(self):
        # The check is registered before the package, so it runs after the
        # package's own exit handlers.
        code = """if True:
            import atexit
            def check():
                import ombrix_usb as o
                print(o.sim.open_handles(1), o.sim.writes(1)[-1].data[:2].hex(), o.sim.library_threads())
            atexit.register(check)
            import ombrix_usb as o
            o.sim.add("EXIT000000000001")
            link = o.open("EXIT000000000001")
            link.on_input_block = print
            o.on_input_change = print
            link.mode = 2
        """
        env = dict(os.environ, OMBRIX_USB_LIBRARY=o.library_path(),
                   PYTHONPATH=str(Path(o.__file__).resolve().parents[1]))
        result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                                text=True, timeout=60)
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["0", "0010", "0"]

    def test_dropped_link_closes_and_frees_its_buffers(self, device):
        link = o.open(SERIAL)
        buffers = [weakref.ref(link.output), weakref.ref(link.input)]
        del link
        gc.collect()
        assert o.sim.open_handles(device) == 0
        assert o.opened_interfaces() == []
        assert [ref() for ref in buffers] == [None, None]

    def test_buffers_outlive_the_link_object_while_the_library_uses_them(self, device):
        # A Link dropped by a callback on a library thread cannot be closed
        # there; its buffers must stay alive until the next open closes it.
        other = o.sim.add("PYLINK0000000002")
        held = [o.open("PYLINK0000000002")]
        buffers = weakref.ref(held[0].input)
        dropped = threading.Event()

        def drop(block):
            if held:
                held.pop()
                dropped.set()

        with o.open(SERIAL) as link:
            link.on_input_block = drop
            o.sim.inject(device, input_block(0, 1))
            assert dropped.wait(5)
            assert buffers() is not None and o.sim.open_handles(other) == 1
            o.sim.inject(other, input_block(3, 7))  # still written into safely
            with o.open("PYLINK0000000002") as again:  # closes the dropped one first
                assert again.id != 0
        gc.collect()
        assert buffers() is None


class TestBuffers:
    def test_output_slices_reach_the_wire(self, device):
        with o.open(SERIAL) as link:
            link.output[0:3] = b"\xff\x80\x00"
            link.output[511] = 7
            link.mode = 2
            assert wait_until(lambda: len(wire(device)) >= 18)
            writes = wire(device)
            assert writes[1] == report(0x10, 0x02)
            assert writes[2] == report(0, 0xFF, 0x80, 0x00)
            assert writes[17] == report(15, *([0] * 31 + [7]))
            assert list(link.output[0:4]) == [0xFF, 0x80, 0x00, 0x00]

    def test_numpy_views_alias_the_library_buffers(self, device):
        numpy = needs("numpy", "python3-numpy is not installed")
        with o.open(SERIAL) as link:
            output = numpy.frombuffer(link.output, dtype=numpy.uint8)
            incoming = numpy.frombuffer(link.input, dtype=numpy.uint8)
            output[32:64] = numpy.arange(32, dtype=numpy.uint8) + 100
            assert link.output[32] == 100  # the same memory, no copy
            link.mode = 2
            assert wait_until(lambda: report(1, *range(100, 132)) in wire(device))
            o.sim.inject(device, input_block(2, 50))
            assert wait_until(lambda: incoming[64] == 50)
            assert list(incoming[64:96]) == list(range(50, 82))

    def test_input_only_and_queue_links(self, device):
        with o.open(SERIAL, output=False, input=False) as link:
            assert link.output is None and link.input is None
            link.mode = 2
            universe = bytes(range(256)) * 2
            link.send(universe)
            # The newest universe goes out in full, blocks 0-15 in order
            # (after the zeros last sent, if the mode change came first).
            def last_universe():
                blocks = wire(device)[-16:]
                return ([block[1] for block in blocks] == list(range(16))
                        and b"".join(block[2:] for block in blocks) == universe)
            assert wait_until(last_universe)
            with pytest.raises(ValueError, match="512 bytes, not 511"):
                link.send(bytes(511))

    def test_send_on_a_polled_link_says_what_to_do(self, device):
        with o.open(SERIAL) as link:
            with pytest.raises(o.OmbrixError, match="write to link.output"):
                link.send(bytes(512))


class TestConfiguration:
    def test_mode_set_waits_until_the_io_thread_takes_it_up(self, device):
        # A configuration write that never completes holds the I/O thread's
        # schedule for the link: the mode cannot be taken up, so the setter
        # waits. The unplug fails that write; then the mode is taken up.
        with o.open(SERIAL, output=False) as link:
            o.sim.set_write_behaviour(device, o.sim.WRITE_NEVER)
            link.set_tx_config(1, 2, 3, 4, 5)
            assert wait_until(lambda: o.sim.pending_transfers(device) == 2)  # the read and that write
            setter = threading.Thread(target=setattr, args=(link, "mode", 3))
            setter.start()
            setter.join(0.2)
            assert setter.is_alive()
            o.sim.unplug(device)
            setter.join(5)
            assert not setter.is_alive() and link.mode == 3
            with pytest.raises(ValueError):
                link.mode = 258  # would silently be mode 2

    def test_mode_set_waiting_while_the_link_closes(self, device):
        with o.open(SERIAL, output=False) as link:
            o.sim.set_write_behaviour(device, o.sim.WRITE_NEVER)
            link.mode = 1  # its write never completes, so mode 2 waits
            errors = []

            def set_mode():
                try:
                    link.mode = 2
                except o.OmbrixError as error:
                    errors.append(error)

            waiter = threading.Thread(target=set_mode)
            waiter.start()
            waiter.join(0.2)
            assert waiter.is_alive()
            link.close()
            waiter.join(5)
            assert [type(error) for error in errors] == [o.LinkNotOpen]

    def test_tx_config_on_the_wire_and_in_the_cache(self, device):
        with o.open(SERIAL) as link:
            assert link.config == o.TxConfig(0, 0, 0, 0, 0, 0, 0)
            link.set_tx_config(9, 1, 2, 3, 255)
            link.store_tx_config()
            expected = report(0x11, 9, 1, 0, 2, 0, 3, 0, 255, 0, 0x00, 0x02, 0x00)
            assert wait_until(lambda: wire(device)[-2:] == [expected, report(0x12, 0x01)])
            assert link.config == o.TxConfig(9, 1, 2, 3, 255, 512, 0)
            with pytest.raises(ValueError, match="param2"):
                link.set_tx_config(0, 0, 256, 0, 0)

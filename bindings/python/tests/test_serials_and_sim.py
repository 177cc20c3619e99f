"""Serials are checked before the library sees them; the simulator's
control functions refuse what they cannot do."""
import pytest

import ombrix_usb as o


class TestSerials:
    @pytest.mark.parametrize("serial, error", [
        ("SHORT", ValueError), ("S" * 17, ValueError), ("\u00c4" + "A" * 15, ValueError),
        (b"S" * 15, ValueError), (bytearray(17), ValueError),
        (None, TypeError), (1234567890123456, TypeError), (list(b"A" * 16), TypeError),
    ])
    def test_bad_serials_never_reach_the_library(self, serial, error):
        walks = o.sim.walk_count()
        for call in (o.open, lambda s: o.on_heartbeat(s, print)):
            with pytest.raises(error):
                call(serial)
        assert o.sim.walk_count() == walks

    def test_text_bytes_and_bytearray_name_the_same_interface(self):
        o.sim.add("SAMESERIAL000001")
        for serial in ("SAMESERIAL000001", b"SAMESERIAL000001", bytearray(b"SAMESERIAL000001")):
            with o.open(serial) as link:
                assert link.serial == "SAMESERIAL000001"

    def test_serial_with_non_ascii_bytes_round_trips_as_bytes(self):
        # The library keeps the low byte of each UTF-16 unit: U+00C4 -> 0xC4.
        o.sim.add("\u00c4BCDEFGHIJKLMNOP", product=0x0833, release=0x0200)
        [info] = o.interfaces()
        assert info == ("\u00c4BCDEFGHIJKLMNOP", 3, 0x0200)
        assert info.serial_bytes == b"\xc4BCDEFGHIJKLMNOP"
        with pytest.raises(ValueError, match="as 16 bytes"):
            o.open(info.serial)
        with o.open(info.serial_bytes) as link:
            assert link.serial_bytes == info.serial_bytes


class TestSimulator:
    def test_unreadable_and_foreign_devices_are_not_listed(self):
        o.sim.add(None)
        o.sim.add("FOREIGN000000001", vendor=0x1234)
        o.sim.add("LISTED0000000001", product=0x0754, release=0x0101)
        assert o.interfaces() == [("LISTED0000000001", 1, 0x0101)]

    def test_unplug_replug_and_handles(self):
        device = o.sim.add("PLUG000000000001")
        o.sim.unplug(device)
        assert o.interfaces() == []
        with pytest.raises(o.InterfaceNotFound):
            o.open("PLUG000000000001")
        o.sim.replug(device)
        with o.open("PLUG000000000001"):
            assert o.sim.open_handles(device) == 1
            with pytest.raises(o.OmbrixError, match="links are open"):
                o.sim.reset()

    def test_refusals(self):
        with pytest.raises(o.OmbrixError, match="device id"):
            o.sim.unplug(99)
        device = o.sim.add("REFUSE0000000001")
        with pytest.raises(ValueError):
            o.sim.inject(device, bytes(35))
        with pytest.raises(ValueError):
            o.sim.add("X" * 16, product=0x10000)

    def test_write_log_and_clearing(self):
        device = o.sim.add("LOG0000000000001")
        with o.open("LOG0000000000001") as link:
            link.mode = 6
        log = o.sim.writes(device)
        assert [w.data[1:3] for w in log][-1] == b"\x10\x00"
        assert all(len(w.data) == 34 for w in log)
        assert log == sorted(log, key=lambda w: w.start_us)
        o.sim.clear_writes(device)
        assert o.sim.writes(device) == []

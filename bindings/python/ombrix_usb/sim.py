"""Simulated interfaces: script devices for tests without hardware.

Needs the simulator library (libombrix_usb_sim.so.0, Ombrix_USB_Sim.dll).
Use this module before any other function of ombrix_usb, or set
OMBRIX_USB_LIBRARY to the simulator library, so that the whole package runs
on it:

    import ombrix_usb as o
    device = o.sim.add("SIM0000000000001")
    o.interfaces()    # [InterfaceInfo(serial='SIM0000000000001', type=1, release=262)]

A device is named by the id add() returned.
"""
import ctypes
from typing import List, NamedTuple, Optional, Union

from . import _library
from ._errors import OmbrixError

# Write behaviours (set_write_behaviour).
WRITE_COMPLETE = 0  #: complete with all bytes delay_us after the start
WRITE_NEVER = 1  #: stay pending until cancelled
WRITE_FAIL = 2  #: complete with failure
WRITE_ZERO_BYTES = 3  #: complete successfully with 0 bytes
WRITE_REFUSE = 4  #: fail to start

# Read behaviours (set_read_behaviour).
READ_NORMAL = 0  #: deliver injected and streamed input
READ_FAIL = 1  #: outstanding and later reads complete with failure
READ_REFUSE = 2  #: reads fail to start

# Steps of the device walk that set_fault() can make fail.
STEP_DETAIL = 1
STEP_OPEN = 2
STEP_ATTRIBUTES = 3
STEP_PREPARSED = 4
STEP_CAPS = 5

REPORT_BYTES = 34


class Write(NamedTuple):
    """One report the device accepted: its bytes, report ID first, and when
    the write started (microseconds on the steady clock)."""

    data: bytes
    start_us: int


def _lib() -> "_library.Library":
    return _library.get_simulator()


def _done(result: int, what: str, device: Optional[int] = None) -> None:
    if result == 0:
        target = f" (is {device} a device id from add()?)" if device is not None else ""
        raise OmbrixError(f"the simulator refused to {what}{target}")


def reset() -> None:
    """Removes every simulated device and clears every setting. Refused while
    any link is open."""
    if _lib().OmbrixSimReset() == 0:
        raise OmbrixError("the simulator cannot be reset while links are open")


def add(
    serial: Union[str, bytes, None],
    vendor: int = 0x16D0,
    product: int = 0x0830,
    release: int = 0x0106,
) -> int:
    """Adds a device; returns its id (1, 2, 3 ... since the last reset). The
    serial string is text (any length; interfaces() shows the low byte of its
    first 16 UTF-16 units) or bytes (one unit per byte); None makes it
    unreadable."""
    for name, value in (("vendor", vendor), ("product", product), ("release", release)):
        if not 0 <= value <= 0xFFFF:
            raise ValueError(f"{name} must be 0-0xFFFF, not {value:#x}")
    if serial is None:
        units, count = None, -1
    else:
        codes = list(serial) if isinstance(serial, bytes) else _utf16_units(serial)
        units, count = (ctypes.c_uint16 * max(len(codes), 1))(*codes), len(codes)
    device = _lib().OmbrixSimAddDevice(vendor, product, release, units, count)
    _done(device, "add a device")
    return int(device)


def _utf16_units(text: str) -> List[int]:
    if not isinstance(text, str):
        raise TypeError(f"a serial string is str, bytes or None, not {type(text).__name__}")
    data = text.encode("utf-16-le", "surrogatepass")
    return [data[i] | (data[i + 1] << 8) for i in range(0, len(data), 2)]


def set_device_set_available(available: bool) -> None:
    """False: the set of present devices cannot be obtained (every walk ends
    at once)."""
    _done(_lib().OmbrixSimSetDeviceSetAvailable(1 if available else 0), "change the device set")


def set_fault(device: int, step: int, fails: bool = True) -> None:
    """Makes one step of the walk (STEP_*) fail for the device."""
    _done(_lib().OmbrixSimSetFault(device, step, 1 if fails else 0), f"set fault {step}", device)


def unplug(device: int) -> None:
    """The device leaves; its outstanding transfers fail."""
    _done(_lib().OmbrixSimUnplug(device), "unplug", device)


def replug(device: int) -> None:
    """The device is present again at its old place; old handles stay dead."""
    _done(_lib().OmbrixSimReplug(device), "replug", device)


def set_write_behaviour(device: int, behaviour: int, delay_us: int = 0) -> None:
    """How the device treats writes from now on (WRITE_*); delay_us applies
    to WRITE_COMPLETE (1000 models one report per USB frame)."""
    _done(_lib().OmbrixSimSetWriteBehaviour(device, behaviour, delay_us), "set the write behaviour", device)


def set_read_behaviour(device: int, behaviour: int) -> None:
    """How the device treats reads from now on (READ_*)."""
    _done(_lib().OmbrixSimSetReadBehaviour(device, behaviour), "set the read behaviour", device)


def inject(device: int, report: bytes) -> None:
    """Queues one input report as a read delivers it, report ID first: 34
    bytes is a full report, fewer a short read."""
    data = bytes(report)
    if not 0 < len(data) <= REPORT_BYTES:
        raise ValueError(f"an input report is 1-34 bytes, report ID first, not {len(data)}")
    _done(_lib().OmbrixSimInjectInput(device, data, len(data)), "inject input", device)


def stream(device: int, interval_us: int) -> None:
    """The device sends an input block every interval_us (blocks 0-15 in
    turn, values changing from universe to universe); 0 stops it."""
    _done(_lib().OmbrixSimStreamInput(device, interval_us), "stream input", device)


def writes(device: int) -> List[Write]:
    """Every write the device accepted since the last clear, oldest first."""
    library = _lib()
    log: List[Write] = []
    buffer = (ctypes.c_ubyte * 64)()
    start = ctypes.c_uint64()
    for index in range(library.OmbrixSimWriteCount(device)):
        length = library.OmbrixSimGetWrite(device, index, buffer, len(buffer), ctypes.byref(start))
        if length == 0:
            break  # cleared meanwhile
        if length > len(buffer):
            buffer = (ctypes.c_ubyte * length)()
            library.OmbrixSimGetWrite(device, index, buffer, len(buffer), ctypes.byref(start))
        log.append(Write(bytes(buffer[:length]), start.value))
    return log


def clear_writes(device: int) -> None:
    _done(_lib().OmbrixSimClearWrites(device), "clear the write log", device)


def open_handles(device: int) -> int:
    """Handles currently open on the device."""
    return int(_lib().OmbrixSimOpenHandles(device))


def walk_count() -> int:
    """Walks of the device set since the last reset."""
    return int(_lib().OmbrixSimWalkCount())


def library_threads() -> int:
    """The library's own threads running now (0 once the last link closed)."""
    return int(_lib().OmbrixSimLibraryThreads())


def pending_transfers(device: int) -> int:
    """Outstanding reads plus writes on the device's handles."""
    return int(_lib().OmbrixSimPendingTransfers(device))

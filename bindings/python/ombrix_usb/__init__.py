"""Ombrix_USB from Python: USB DMX512 interfaces over the library's C API.

    import ombrix_usb
    for info in ombrix_usb.interfaces():
        print(info.serial, info.type, info.release)
    with ombrix_usb.open(serial) as link:
        link.mode = 2                      # DMX output on
        link.output[0:3] = b"\\xff\\x80\\x00"  # channels 1-3

Process-wide callbacks are module attributes (assign None to remove):
ombrix_usb.on_input_change = f() and ombrix_usb.on_interface_change = f()
run on the library's event thread; ombrix_usb.on_input_block = f(block)
runs on its I/O thread. ombrix_usb.on_heartbeat(serial, f) registers
f(link_id) (event thread). A callback must not open, close or register.
"""
import atexit
import sys
import types
from typing import Callable, List, NamedTuple, Optional

from . import _callbacks, _library
from ._errors import InterfaceNotFound, LibraryNotFound, LinkNotOpen, OmbrixError
from ._link import Link, TxConfig, Universe, open
from ._serial import SerialLike, serial_bytes, serial_text

__version__ = "0.1.0"

__all__ = [
    "InterfaceInfo",
    "InterfaceNotFound",
    "LibraryNotFound",
    "Link",
    "LinkNotOpen",
    "OmbrixError",
    "TxConfig",
    "Universe",
    "interfaces",
    "library_path",
    "load",
    "on_heartbeat",
    "on_input_block",
    "on_input_change",
    "on_interface_change",
    "open",
    "opened_interfaces",
    "sim",
]


class InterfaceInfo(NamedTuple):
    """An attached interface: its serial, type code (1 for products 0x0754
    and 0x0830, 2 for 0x0832, 3 for 0x0833) and release number (bcdDevice)."""

    serial: str
    type: int
    release: int

    @property
    def serial_bytes(self) -> bytes:
        return self.serial.encode("latin-1")


def load(path: Optional[str] = None) -> None:
    """Loads the library at path (None: search as on first use) for the whole
    process. Call it before anything else; a second, different library is
    refused."""
    _library.load(path)


def library_path() -> str:
    """The path or name of the library in use (loading it if need be)."""
    return _library.get().path


def interfaces() -> List[InterfaceInfo]:
    """The attached interfaces of the family, at most 32, in the order the
    system enumerates them."""
    library = _library.get()
    found = []
    for serial in library.serial_list(library.GetAllConnectedInterfaces):
        device_type = library.GetDeviceTyp(serial)
        if device_type == 0:
            continue  # unplugged since the walk
        found.append(InterfaceInfo(serial_text(serial), device_type, library.GetDeviceVersion(serial)))
    return found


def opened_interfaces() -> List[str]:
    """Serials of the links open in this process (also those opened by other
    code through the same library), oldest first."""
    return [serial_text(serial) for serial in _library.get().opened_serials()]


def on_heartbeat(serial: SerialLike, function: Optional[Callable[[int], None]]) -> int:
    """Registers f(link_id), called on the event thread when an interface
    sends a heartbeat or its configuration, or after its input changed. The
    callback is process-wide, registered through the open link with this
    serial, whose interface must support heartbeats (products 0x0832 and
    0x0833, 0x0754 and 0x0830 from release 0x0106). None removes it.
    Returns the link's id (0 when removing)."""
    key = serial_bytes(serial)
    _callbacks.check_callable(function)
    _callbacks.refuse_in_callback("ombrix_usb.on_heartbeat()")
    library = _library.get()
    slot = _callbacks.heartbeat
    with _callbacks.registration_lock:
        if function is None:
            if library.UnregisterHeartbeatNotification(key) != 1:
                raise LinkNotOpen(f"no link to {serial_text(key)!r} is open")
            link_id = 0
            new = None
        else:
            new = _callbacks.thunk(_library.HeartbeatCallback, function, _callbacks.adapt_first)
            link_id = library.RegisterHeartbeatNotification(key, new)
            if link_id == 0:
                if key not in library.opened_serials():
                    raise LinkNotOpen(f"no link to {serial_text(key)!r} is open")
                raise OmbrixError(
                    f"the interface {serial_text(key)!r} sends no heartbeats (products 0x0832 and "
                    "0x0833 do, 0x0754 and 0x0830 from release 0x0106 on)"
                )
        # Other links may call the previous callback once more after the
        # slot changed, so it is retired rather than dropped.
        _callbacks.retire(slot["thunk"])
        slot["function"], slot["thunk"] = function, new
    return link_id


def _slot_property(name: str) -> property:
    slot = _callbacks.process_slots[name]
    return property(lambda module: slot.function, lambda module, function: slot.set(function))


class _OmbrixModule(types.ModuleType):
    """Makes the process-wide callbacks assignable module attributes."""

    on_input_change = _slot_property("input_change")
    on_input_block = _slot_property("input_block")
    on_interface_change = _slot_property("interface_change")


# Declared for type checkers; the values live in the slots above.
on_input_change: Optional[Callable[[], None]]
on_input_block: Optional[Callable[[int], None]]
on_interface_change: Optional[Callable[[], None]]

sys.modules[__name__].__class__ = _OmbrixModule


@atexit.register
def _unregister_at_exit() -> None:
    # Runs after the links this binding opened were closed (their finalizers
    # were registered later, so they run first). Links opened by other code
    # could still run callbacks while the interpreter shuts down: remove them.
    library = _library.loaded()
    if library is None or _callbacks.in_callback():
        return
    for slot in _callbacks.process_slots.values():
        if slot.function is not None:
            slot.set(None)

from . import sim  # noqa: E402  (uses the names above)

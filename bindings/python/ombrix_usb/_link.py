"""Links: an open connection to one interface and the buffers it shares
with the library."""
import atexit
import ctypes
import weakref
from typing import Any, Callable, Dict, List, NamedTuple, Optional

from . import _callbacks, _library
from ._errors import InterfaceNotFound, LinkNotOpen, OmbrixError
from ._serial import SerialLike, serial_bytes, serial_text

UNIVERSE_BYTES = 512

#: The type of Link.output and Link.input: 512 bytes, channel n at index n - 1.
Universe = ctypes.c_ubyte * UNIVERSE_BYTES


class TxConfig(NamedTuple):
    """An interface's advanced transmit configuration, as last set here or
    last reported by the interface."""

    byte_value: int
    param1: int
    param2: int
    param3: int
    param4: int
    length: int
    last_byte: int


class _LinkState:
    """What must outlive the Link object while the library may still use it:
    the buffers it reads and writes on its I/O thread and the per-link
    thunks. Held by _open_links from OpenLink until CloseLink has returned,
    whatever happens to the Link object."""

    def __init__(
        self,
        library: "_library.Library",
        serial: bytes,
        output: Optional["ctypes.Array[ctypes.c_ubyte]"],
        input: Optional["ctypes.Array[ctypes.c_ubyte]"],
    ) -> None:
        self.library = library
        self.serial = serial
        self.output = output
        self.input = input
        self.open = True
        self.id = 0
        self.mode = 0
        self.callbacks: Dict[str, Optional[Callable[..., Any]]] = {}
        self.thunks: Dict[str, Any] = {}

    @property
    def text(self) -> str:
        return serial_text(self.serial)


# Every link this binding opened and has not closed yet, by serial. Changed
# under _callbacks.registration_lock only.
_open_links: Dict[bytes, _LinkState] = {}
# Links whose Link object was collected on a library thread (a callback
# dropped the last reference); CloseLink cannot run there, so they are closed
# on the next open() or close() or at exit.
_deferred: List[_LinkState] = []


def _close(state: _LinkState) -> None:
    """Closes the link and lets go of its buffers and thunks. Caller holds
    registration_lock and is not on a library thread."""
    if not state.open:
        return
    # 0 means other code in the process closed it already: closed either way.
    state.library.CloseLink(state.serial)
    state.open = False
    if _open_links.get(state.serial) is state:
        del _open_links[state.serial]
    for old in state.thunks.values():
        _callbacks.retire(old)
    state.thunks.clear()
    state.callbacks.clear()
    _callbacks.release_retired_if_idle(state.library)


def _close_deferred() -> None:
    while _deferred:
        _close(_deferred.pop())


@atexit.register
def _close_deferred_at_exit() -> None:
    # Finalizers of Link objects still alive run before this (they were
    # registered later); what is left are links dropped on a library thread.
    with _callbacks.registration_lock:
        _close_deferred()


def _finalize(state: _LinkState) -> None:
    """Runs when a Link object is collected or at interpreter exit: an open
    link is closed, so the interface goes back to mode 0 and no library thread
    runs Python code during shutdown."""
    if not state.open:
        return
    if _callbacks.in_callback():
        _deferred.append(state)
        return
    with _callbacks.registration_lock:
        _close(state)
        _close_deferred()


def _universe_bytes(universe: Any) -> bytes:
    try:
        data = memoryview(universe).cast("B").tobytes()
    except TypeError:
        data = bytes(universe)  # a sequence of ints
    if len(data) != UNIVERSE_BYTES:
        raise ValueError(f"a universe is 512 bytes, not {len(data)}")
    return data


def _byte_argument(name: str, value: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not 0 <= value <= 255:
        raise ValueError(f"{name} must be 0-255 (one byte travels to the interface), not {value}")
    return value


class Link:
    """An open link to one interface. Use it as a context manager, or call
    close(); leaving the block closes the link, which sets the interface
    back to mode 0. A Link that is dropped while open is closed when it is
    collected, and every link still open is closed at interpreter exit.

    output and input are 512-byte buffers (ctypes arrays of c_ubyte) that the
    library's I/O thread reads and writes while the link is open. Index,
    slice and numpy.frombuffer() them without a copy. Every channel write is
    a single byte store: a slice assignment may go out over two reports, but
    a channel never holds half of two values.
    """

    __slots__ = ("_state", "__weakref__")

    def __init__(self, state: _LinkState) -> None:
        self._state = state

    # -- identity and buffers -------------------------------------------------

    @property
    def serial(self) -> str:
        return self._state.text

    @property
    def serial_bytes(self) -> bytes:
        return self._state.serial

    @property
    def id(self) -> int:
        """The link id that the heartbeat callback carries (never 0)."""
        return self._state.id

    @property
    def output(self) -> Optional["ctypes.Array[ctypes.c_ubyte]"]:
        """The polled output universe; None for a link opened with output=False."""
        return self._state.output

    @property
    def input(self) -> Optional["ctypes.Array[ctypes.c_ubyte]"]:
        """The universe the interface's DMX input lands in; None with input=False."""
        return self._state.input

    @property
    def closed(self) -> bool:
        return not self._state.open

    def _live(self) -> _LinkState:
        state = self._state
        if not state.open:
            raise LinkNotOpen(f"the link to {state.text} is closed")
        return state

    def _check(self, result: int) -> None:
        """A per-interface call returned result; 0 on a link this binding
        still has open means other code closed it."""
        if result == 0:
            state = self._state
            gone = state.open and state.serial not in state.library.opened_serials()
            if gone and not _callbacks.in_callback():
                with _callbacks.registration_lock:
                    _close(state)
            raise LinkNotOpen(f"the link to {state.text} is closed")

    # -- output and configuration ----------------------------------------------

    def send(self, universe: Any) -> None:
        """Queues a copy of a 512-byte universe (bytes, bytearray, numpy
        array, ctypes array ...) on a link opened with output=False. The
        newest queued universe goes out in full; older ones are dropped."""
        state = self._live()
        data = _universe_bytes(universe)
        if state.output is not None:
            raise OmbrixError(
                f"the link to {state.text} sends its output buffer; write to link.output "
                "instead, or open with output=False to send universes"
            )
        self._check(state.library.SendDmxUniverse(state.serial, data))

    @property
    def mode(self) -> int:
        """The operating mode last set through this link (0 after opening).
        Setting it waits until the library's I/O thread has taken it up.
        DMX output goes out in modes 2, 3, 6 and 7."""
        return self._live().mode

    @mode.setter
    def mode(self, mode: int) -> None:
        state = self._live()
        _byte_argument("mode", mode)
        self._check(state.library.SetInterfaceMode(state.serial, mode))
        state.mode = mode

    def set_tx_config(self, byte_value: int, param1: int, param2: int, param3: int, param4: int) -> None:
        """Sends an advanced transmit configuration command; a store request
        that has not gone out yet is withdrawn."""
        state = self._live()
        values = [
            _byte_argument(name, value)
            for name, value in zip(
                ("byte_value", "param1", "param2", "param3", "param4"),
                (byte_value, param1, param2, param3, param4),
            )
        ]
        self._check(state.library.SetInterfaceAdvTxConfig(state.serial, *values, UNIVERSE_BYTES, 0))

    def store_tx_config(self) -> None:
        """Asks the interface to store its configuration."""
        state = self._live()
        self._check(state.library.StoreInterfaceAdvTxConfig(state.serial))

    @property
    def config(self) -> TxConfig:
        """The cached configuration: what was last set here or last reported
        by the interface, whichever came last; all zero after opening."""
        state = self._live()
        byte_value = ctypes.c_uint8()
        words = [ctypes.c_uint16() for _ in range(6)]
        self._check(
            state.library.GetInterfaceConfig(
                state.serial, ctypes.byref(byte_value), *[ctypes.byref(word) for word in words]
            )
        )
        return TxConfig(byte_value.value, *[word.value for word in words])

    # -- per-link callbacks ----------------------------------------------------

    @property
    def on_input_block(self) -> Optional[Callable[[int], None]]:
        """f(block) after input block 0-15 of this link was stored in
        link.input. Runs on the library's I/O thread: keep it short, every
        link's transfers wait while it runs. None removes it."""
        return self._state.callbacks.get("input_block")

    @on_input_block.setter
    def on_input_block(self, function: Optional[Callable[[int], None]]) -> None:
        self._set_callback("input_block", function)

    @property
    def on_interface_change(self) -> Optional[Callable[[], None]]:
        """f() when a transfer of this link failed (typically: the interface
        was unplugged). Runs on the library's event thread. None removes it."""
        return self._state.callbacks.get("interface_change")

    @on_interface_change.setter
    def on_interface_change(self, function: Optional[Callable[[], None]]) -> None:
        self._set_callback("interface_change", function)

    def _set_callback(self, kind: str, function: Optional[Callable[..., Any]]) -> None:
        _callbacks.check_callable(function)
        _callbacks.refuse_in_callback(f"setting Link.on_{kind}")
        state = self._live()
        library = state.library
        adapt: Callable[..., _callbacks.Arguments]
        if kind == "input_block":
            c_type, adapt, name = (
                _library.InputChangeBlockSerialCallback,
                _callbacks.adapt_second,
                "InputChangeBlockNotificationSerial",
            )
        else:
            c_type, adapt, name = (
                _library.InterfaceChangeSerialCallback,
                _callbacks.adapt_none,
                "InterfaceChangeNotificationSerial",
            )
        with _callbacks.registration_lock:
            self._live()
            if function is None:
                result = getattr(library, "Unregister" + name)(state.serial)
                new = None
            else:
                new = _callbacks.thunk(c_type, function, adapt)
                result = getattr(library, "Register" + name)(state.serial, new)
            self._check(result)
            _callbacks.retire(state.thunks.pop(kind, None))
            state.callbacks[kind] = function
            if new is not None:
                state.thunks[kind] = new

    # -- closing ---------------------------------------------------------------

    def close(self) -> None:
        """Closes the link: the interface goes back to mode 0 and the library
        no longer touches the buffers. Closing a closed link does nothing."""
        if not self._state.open:
            return
        _callbacks.refuse_in_callback("Link.close()")
        with _callbacks.registration_lock:
            _close(self._state)
            _close_deferred()

    def __enter__(self) -> "Link":
        return self

    def __exit__(self, *_: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        state = self._state
        status = f"id {state.id}, mode {state.mode}" if state.open else "closed"
        return f"<ombrix_usb.Link {state.text!r} {status}>"


def open(serial: SerialLike, output: bool = True, input: bool = True) -> Link:
    """Opens a link to the interface with this serial and sets it to mode 0.

    output=True gives the link a polled output buffer (Link.output) whose
    changed 32-channel blocks the library sends; output=False feeds it with
    Link.send() instead. input=False leaves DMX input unstored.
    """
    key = serial_bytes(serial)
    _callbacks.refuse_in_callback("ombrix_usb.open()")
    library = _library.get()
    with _callbacks.registration_lock:
        _close_deferred()
        if key in _open_links or key in library.opened_serials():
            # The library would keep the open link with its own buffers and
            # report success: the new buffers would never be used.
            raise OmbrixError(f"{serial_text(key)!r} is already open in this process; close that link first")
        state = _LinkState(library, key, Universe() if output else None, Universe() if input else None)
        if library.OpenLink(key, state.output, state.input) != 1:
            raise InterfaceNotFound(
                f"no interface with serial {serial_text(key)!r} could be opened "
                "(is it attached, and may this user open it?)"
            )
        _open_links[key] = state
        # Registering the empty callback the link starts with answers its id.
        state.id = library.RegisterInterfaceChangeNotificationSerial(key, _library.InterfaceChangeSerialCallback())
        if state.id == 0:
            _close(state)
            raise LinkNotOpen(f"the link to {serial_text(key)!r} was closed while it opened")
    link = Link(state)
    weakref.finalize(link, _finalize, state)
    return link

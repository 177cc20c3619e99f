"""Python callbacks behind the library's C callbacks.

The library calls C function pointers on its own threads. Each Python
function is wrapped in a ctypes thunk that must stay alive for as long as
the library may call it, or the call jumps into freed memory. This module
owns every thunk: the registered ones, and the replaced ones until no link
is open (the library's threads have then ended, so nothing can call them).

Exceptions raised by a callback propagate into the ctypes thunk, which
reports them through sys.unraisablehook and returns to the library
normally: nothing crosses into C.
"""
import threading
from typing import Any, Callable, Dict, List, Optional, Tuple

# What an adapter makes of the C arguments: the Python callback's arguments.
Arguments = Tuple[Any, ...]

from . import _library
from ._errors import OmbrixError

_local = threading.local()

# Replaced thunks that a library thread may still be about to call. Only
# appended to and cleared under registration_lock.
_retired: List[Any] = []

# Open, close and every registration. Held while the library waits for its
# threads (the GIL is released then), so a callback must never take it;
# refuse_in_callback() stops the functions that would before they try.
registration_lock = threading.RLock()


def in_callback() -> bool:
    """Whether this thread is inside a callback run by the library."""
    return getattr(_local, "depth", 0) > 0


def refuse_in_callback(what: str) -> None:
    if in_callback():
        raise OmbrixError(
            f"{what} cannot be called from a callback: it waits for the library thread "
            "that runs the callback"
        )


def check_callable(function: Optional[Callable[..., Any]]) -> None:
    if function is not None and not callable(function):
        raise TypeError(f"a callback must be callable or None, not {type(function).__name__}")


def thunk(c_type: Any, function: Callable[..., Any], adapt: Callable[..., Arguments]) -> Any:
    """A ctypes thunk of c_type that calls function(*adapt(*c_arguments))."""

    def trampoline(*arguments: Any) -> None:
        _local.depth = getattr(_local, "depth", 0) + 1
        try:
            function(*adapt(*arguments))
        finally:
            _local.depth -= 1

    return c_type(trampoline)


def retire(old: Any) -> None:
    """Keeps a replaced thunk until no link is open."""
    if old is not None:
        _retired.append(old)


def release_retired_if_idle(library: "_library.Library") -> None:
    """Drops the replaced thunks once no link is open: the library's threads
    end with the last link, so none of them can still be calling one."""
    if not library.opened_serials():
        _retired.clear()


class ProcessSlot:
    """One process-wide callback: its registration functions, its C type and
    how the C arguments become the Python function's."""

    def __init__(self, name: str, c_type: Any, adapt: Callable[..., Arguments]) -> None:
        self.name = name
        self.c_type = c_type
        self.adapt = adapt
        self.function: Optional[Callable[..., Any]] = None
        self.thunk: Any = None

    def set(self, function: Optional[Callable[..., Any]]) -> None:
        check_callable(function)
        refuse_in_callback(f"setting ombrix_usb.on_{self.name}")
        library = _library.get()
        register = getattr(library, f"Register{_C_NAMES[self.name]}Notification")
        unregister = getattr(library, f"Unregister{_C_NAMES[self.name]}Notification")
        with registration_lock:
            new = None if function is None else thunk(self.c_type, function, self.adapt)
            result = unregister() if new is None else register(new)
            if result != 1:
                raise OmbrixError(f"the library refused to change the {self.name} callback")
            retire(self.thunk)
            self.function, self.thunk = function, new


def adapt_none(*_: Any) -> Arguments:
    return ()


def adapt_first(value: Any, *_: Any) -> Arguments:
    return (value,)


def adapt_second(_: Any, value: Any) -> Arguments:
    return (value,)


_C_NAMES = {
    "input_change": "InputChange",
    "input_block": "InputChangeBlock",
    "interface_change": "InterfaceChange",
}

process_slots: Dict[str, ProcessSlot] = {
    "input_change": ProcessSlot("input_change", _library.InputChangeCallback, adapt_none),
    "input_block": ProcessSlot("input_block", _library.InputChangeBlockCallback, adapt_first),
    "interface_change": ProcessSlot("interface_change", _library.InterfaceChangeCallback, adapt_none),
}

# The heartbeat slot is process-wide but registered through a link; its
# current thunk, kept here while registered.
heartbeat: Dict[str, Any] = {"function": None, "thunk": None}


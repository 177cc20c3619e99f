"""Finding, loading and declaring the Ombrix_USB shared library.

One library serves the whole process: the first call that needs it loads
either the one named by OMBRIX_USB_LIBRARY, the one given to load(), or the
first one found by the search below. The real library and the simulator
library export the same functions, so everything but ombrix_usb.sim works
with either.
"""
import ctypes
import os
import struct
import sys
import threading
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from ._errors import LibraryNotFound, OmbrixError

ENVIRONMENT_VARIABLE = "OMBRIX_USB_LIBRARY"

SERIAL_SLOTS = 32
# What the library writes into every slot of a serial list before filling it.
UNUSED_SLOT = b"0" * 16

_WINDOWS = sys.platform == "win32"
# The exports and callbacks of the 32-bit Windows DLL use stdcall.
_STDCALL = _WINDOWS and struct.calcsize("P") == 4

if _STDCALL:
    _LOADER: Callable[[str], Any] = getattr(ctypes, "WinDLL")
    FUNCTYPE: Callable[..., Any] = getattr(ctypes, "WINFUNCTYPE")
else:
    _LOADER = ctypes.CDLL
    FUNCTYPE = ctypes.CFUNCTYPE

# The six callback types of the C header.
InputChangeCallback = FUNCTYPE(None)
InputChangeBlockCallback = FUNCTYPE(None, ctypes.c_uint32)
InterfaceChangeCallback = FUNCTYPE(None)
HeartbeatCallback = FUNCTYPE(None, ctypes.c_int32)
InputChangeBlockSerialCallback = FUNCTYPE(None, ctypes.c_int32, ctypes.c_uint32)
InterfaceChangeSerialCallback = FUNCTYPE(None, ctypes.c_int32)

_i32, _u32, _u16, _u8, _u64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_uint16, ctypes.c_uint8, ctypes.c_uint64
# Serials and universes the library only reads are passed as bytes (no copy);
# buffers it fills or keeps are ctypes arrays.
_BYTES = ctypes.c_char_p
_BUFFER = ctypes.POINTER(ctypes.c_ubyte)
_U16P = ctypes.POINTER(_u16)

_API: Dict[str, Tuple[Any, Sequence[Any]]] = {
    "GetAllConnectedInterfaces": (None, [_BUFFER]),
    "GetDeviceTyp": (_i32, [_BYTES]),
    "GetDeviceVersion": (_i32, [_BYTES]),
    "OpenLink": (_i32, [_BYTES, _BUFFER, _BUFFER]),
    "CloseLink": (_i32, [_BYTES]),
    "CloseAllLinks": (_i32, []),
    "GetAllOpenedInterfaces": (None, [_BUFFER]),
    "SendDmxUniverse": (_i32, [_BYTES, _BYTES]),
    "SetInterfaceMode": (_i32, [_BYTES, _i32]),
    "SetInterfaceAdvTxConfig": (_i32, [_BYTES, _i32, _i32, _i32, _i32, _i32, _i32, _i32]),
    "StoreInterfaceAdvTxConfig": (_i32, [_BYTES]),
    "GetInterfaceConfig": (_i32, [_BYTES, ctypes.POINTER(_u8)] + [_U16P] * 6),
    "RegisterInputChangeNotification": (_i32, [InputChangeCallback]),
    "UnregisterInputChangeNotification": (_i32, []),
    "RegisterInputChangeBlockNotification": (_i32, [InputChangeBlockCallback]),
    "UnregisterInputChangeBlockNotification": (_i32, []),
    "RegisterInterfaceChangeNotification": (_i32, [InterfaceChangeCallback]),
    "UnregisterInterfaceChangeNotification": (_i32, []),
    "RegisterHeartbeatNotification": (_i32, [_BYTES, HeartbeatCallback]),
    "UnregisterHeartbeatNotification": (_i32, [_BYTES]),
    "RegisterInputChangeBlockNotificationSerial": (_i32, [_BYTES, InputChangeBlockSerialCallback]),
    "UnregisterInputChangeBlockNotificationSerial": (_i32, [_BYTES]),
    "RegisterInterfaceChangeNotificationSerial": (_i32, [_BYTES, InterfaceChangeSerialCallback]),
    "UnregisterInterfaceChangeNotificationSerial": (_i32, [_BYTES]),
}

_SIM_API: Dict[str, Tuple[Any, Sequence[Any]]] = {
    "OmbrixSimReset": (_i32, []),
    "OmbrixSimAddDevice": (_i32, [_u16, _u16, _u16, _U16P, _i32]),
    "OmbrixSimSetDeviceSetAvailable": (_i32, [_i32]),
    "OmbrixSimSetFault": (_i32, [_i32, _i32, _i32]),
    "OmbrixSimUnplug": (_i32, [_i32]),
    "OmbrixSimReplug": (_i32, [_i32]),
    "OmbrixSimSetWriteBehaviour": (_i32, [_i32, _i32, _u32]),
    "OmbrixSimSetReadBehaviour": (_i32, [_i32, _i32]),
    "OmbrixSimInjectInput": (_i32, [_i32, _BYTES, _u32]),
    "OmbrixSimStreamInput": (_i32, [_i32, _u32]),
    "OmbrixSimWriteCount": (_u32, [_i32]),
    "OmbrixSimGetWrite": (_i32, [_i32, _u32, _BUFFER, _u32, ctypes.POINTER(_u64)]),
    "OmbrixSimClearWrites": (_i32, [_i32]),
    "OmbrixSimWalkCount": (_u32, []),
    "OmbrixSimOpenHandles": (_i32, [_i32]),
    "OmbrixSimLibraryThreads": (_i32, []),
    "OmbrixSimPendingTransfers": (_i32, [_i32]),
}


class Library:
    """A loaded Ombrix_USB library with every function declared.

    The functions are attributes under their C names (lib.OpenLink ...).
    ctypes releases the GIL around each call, which matters: several
    functions wait for the library's threads, and those may be waiting to
    run a Python callback.
    """

    def __init__(self, path: str, handle: Any) -> None:
        self.path = path
        self.handle = handle
        self._declare(_API)
        self.simulated = hasattr(handle, "OmbrixSimReset")
        if self.simulated:
            self._declare(_SIM_API)

    def _declare(self, table: Dict[str, Tuple[Any, Sequence[Any]]]) -> None:
        for name, (restype, argtypes) in table.items():
            try:
                function = getattr(self.handle, name)
            except AttributeError:
                raise OmbrixError(
                    f"{self.path} does not export {name}: it is not an Ombrix_USB library"
                ) from None
            function.restype = restype
            function.argtypes = list(argtypes)
            setattr(self, name, function)

    def serial_list(self, function: Any) -> List[bytes]:
        """The serials a listing function (GetAllConnectedInterfaces,
        GetAllOpenedInterfaces) reports: slots up to the first unused one."""
        listing = (ctypes.c_ubyte * (SERIAL_SLOTS * 16))()
        function(listing)
        raw = bytes(listing)
        serials = [raw[16 * slot : 16 * slot + 16] for slot in range(SERIAL_SLOTS)]
        used = serials.index(UNUSED_SLOT) if UNUSED_SLOT in serials else SERIAL_SLOTS
        return serials[:used]

    def opened_serials(self) -> List[bytes]:
        return self.serial_list(self.GetAllOpenedInterfaces)

    def __getattr__(self, name: str) -> Any:
        # Only reached for names _declare did not set: the simulator's
        # functions on the real library. An AttributeError keeps hasattr()
        # and copy working.
        raise AttributeError(f"{self.path} has no function {name}")


def file_name(simulated: bool) -> str:
    if _WINDOWS:
        return "Ombrix_USB_Sim.dll" if simulated else "Ombrix_USB.dll"
    return "libombrix_usb_sim.so.0" if simulated else "libombrix_usb.so.0"


def candidates(simulated: bool) -> List[str]:
    """Where the library is looked for, nearest first: beside the package,
    in the build tree of the source checkout the package sits in, then the
    bare file name, which leaves the search to the system's loader."""
    name = file_name(simulated)
    package_dir = Path(__file__).resolve().parent
    places = [str(package_dir / name)]
    source_root = package_dir.parent.parent.parent  # bindings/python/ombrix_usb
    if (source_root / "CMakePresets.json").is_file():
        if _WINDOWS:
            preset = "win32" if struct.calcsize("P") == 4 else "win64"
        else:
            preset = "default"
        places.append(str(source_root / "build" / preset / name))
    places.append(name)
    return places


def _try(place: str, tried: List[str]) -> Optional[Library]:
    bare = os.sep not in place and "/" not in place
    if not bare and not os.path.exists(place):
        tried.append(f"{place}: no such file")
        return None
    try:
        handle = _LOADER(place)
    except OSError as error:
        where = f"{place} on the system's library search path" if bare else place
        tried.append(f"{where}: {error}")
        return None
    return Library(place, handle)


def _search(simulated: bool) -> Library:
    tried: List[str] = []
    configured = os.environ.get(ENVIRONMENT_VARIABLE)
    places = [configured] if configured else candidates(simulated)
    for place in places:
        library = _try(place, tried)
        if library is not None:
            return library
    what = "simulator library" if simulated else "Ombrix_USB library"
    source = f" ({ENVIRONMENT_VARIABLE} is set)" if configured else ""
    raise LibraryNotFound(
        f"The {what} could not be loaded{source}. Tried:\n  "
        + "\n  ".join(tried)
        + f"\nSet {ENVIRONMENT_VARIABLE} to the library's path or call ombrix_usb.load(path)."
    )


_lock = threading.Lock()
_active: Optional[Library] = None


def load(path: Optional[str] = None) -> Library:
    """Loads the library at path (or, with None, the one the search finds)
    as the process's library. Loading a second, different one is an error:
    links, callbacks and simulated devices live in the library that made
    them."""
    global _active
    with _lock:
        if path is None:
            library = _active if _active is not None else _search(simulated=False)
        else:
            if _active is not None:
                if os.path.realpath(_active.path) == os.path.realpath(path):
                    return _active
                raise OmbrixError(
                    f"{_active.path} is already loaded; one Ombrix_USB library serves the process"
                )
            tried: List[str] = []
            found = _try(path, tried)
            if found is None:
                raise LibraryNotFound(f"The library could not be loaded: {tried[0]}")
            library = found
        _active = library
        return library


def get() -> Library:
    """The process's library, loaded on first use."""
    library = _active
    return library if library is not None else load()


def get_simulator() -> Library:
    """The process's library, which must be the simulator library; when none
    is loaded yet, the simulator library is searched for and loaded."""
    global _active
    with _lock:
        if _active is None:
            _active = _search(simulated=True)
        library = _active
    if not library.simulated:
        raise OmbrixError(
            f"ombrix_usb.sim needs the simulator library ({file_name(True)}), but {library.path} "
            f"is loaded. Load the simulator first: set {ENVIRONMENT_VARIABLE} to its path, or use "
            "ombrix_usb.sim before any other function, or call ombrix_usb.load(path)."
        )
    return library


def loaded() -> Optional[Library]:
    return _active

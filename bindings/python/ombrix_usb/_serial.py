"""Serials: the 16 raw bytes that key every per-interface call."""
from typing import Union

SERIAL_BYTES = 16

#: What the binding accepts wherever a serial is asked for.
SerialLike = Union[str, bytes, bytearray]


def serial_bytes(serial: SerialLike) -> bytes:
    """The 16 bytes of a serial given as text or bytes.

    Checked before the library sees it: the library reads exactly 16 bytes
    from the pointer it is given, so a shorter value would make it read past
    the end of the object.
    """
    if isinstance(serial, str):
        if len(serial) != SERIAL_BYTES:
            raise ValueError(f"a serial has 16 characters, not {len(serial)}: {serial!r}")
        try:
            return serial.encode("ascii")
        except UnicodeEncodeError:
            raise ValueError(
                f"a serial given as text must be ASCII: {serial!r} "
                "(give serials with other bytes as 16 bytes, e.g. InterfaceInfo.serial_bytes)"
            ) from None
    if isinstance(serial, (bytes, bytearray)):
        if len(serial) != SERIAL_BYTES:
            raise ValueError(f"a serial is 16 bytes, not {len(serial)}: {bytes(serial)!r}")
        return bytes(serial)
    raise TypeError(
        f"a serial is a str of 16 ASCII characters or 16 bytes, not {type(serial).__name__}"
    )


def serial_text(serial: bytes) -> str:
    """A serial as text. Latin-1 maps every byte to one character, so the
    text always has 16 characters and encodes back to the same bytes."""
    return serial.decode("latin-1")

"""The exceptions the binding raises."""


class OmbrixError(Exception):
    """Something the library could not do; the message says what and why."""


class LibraryNotFound(OmbrixError):
    """No Ombrix_USB library could be loaded; the message names every place tried."""


class InterfaceNotFound(OmbrixError):
    """No attached interface has the serial (or it could not be opened)."""


class LinkNotOpen(OmbrixError):
    """The link has been closed, here or by other code in the process."""

"""The exceptions of the quil package.

Every exception the library raises is a :class:`QuilError` and also an instance of the built-in
exception that fits it, so ``except TimeoutError`` or ``except ValueError`` work as expected.
``str(error)`` is the library's text, unchanged.
"""

import builtins


class QuilError(Exception):
    """Base of every exception of the package."""

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


class ConnectionError(QuilError, builtins.ConnectionError):
    """The connection to the sensor failed, was lost, or a local socket could not be opened."""


class ConnectionClosedError(ConnectionError):
    """The client was closed (``close()``, the end of its ``with`` block) while a request waited
    for the sensor's answer, say on another thread: the request was cut off, it did not time out.
    Connect again with ``quil.connect()`` to ask again."""


class TimeoutError(QuilError, builtins.TimeoutError):
    """The sensor did not answer a request in time (or the connection is gone)."""


class FileError(QuilError, builtins.OSError):
    """A file (a recording, an image) could not be opened, read or written."""


class SensorError(QuilError, builtins.ValueError):
    """The sensor refused a request: a wrong password, a value out of range, a missing role."""


class InvalidArgumentError(QuilError, builtins.ValueError):
    """An argument the library cannot use, or a reply without content."""


class ReplyError(QuilError, builtins.ValueError):
    """A reply of the sensor whose values have the wrong type."""


class MissingError(QuilError, builtins.KeyError):
    """A reply lacks a field, or a queue has no entry to take."""


class StateError(QuilError, builtins.RuntimeError):
    """An operation that the object's state does not allow (a closed client, a second
    recording)."""


__all__ = [
    "QuilError", "ConnectionError", "ConnectionClosedError", "TimeoutError", "FileError", "SensorError",
    "InvalidArgumentError", "ReplyError", "MissingError", "StateError",
]

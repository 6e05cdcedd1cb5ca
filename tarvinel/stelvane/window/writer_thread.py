"""A data file written by a thread of its own: formatting a long run takes
seconds, and the window goes on meanwhile. One file at a time; the end of the
writing reaches the GUI thread as a signal.
"""

from collections.abc import Callable
import threading

from ..formats.atomic import ExportError
from ..qt_compat import QtCore, Signal


class WriteSignals(QtCore.QObject):
    """Carries the end of a data file's writing to the GUI thread: (path,
    what was saved, or "", the problem, or "")."""
    written = Signal(str, str, str)


class DataFileWriter:
    """Runs `write()` in a thread; `done(path, message, problem)` is called
    in the GUI thread when it ends, with `message` on success and the
    problem's text otherwise."""

    def __init__(self, done: Callable[[str, str, str], None]):
        self.signals = WriteSignals()
        self.signals.written.connect(done)
        self.writing: threading.Thread | None = None  # the data file under way

    @property
    def busy(self) -> bool:
        return self.writing is not None and self.writing.is_alive()

    def start(self, write: Callable[[], None], path: str, message: str) -> None:
        self.writing = threading.Thread(target=self._write, args=(write, path, message),
                                        name="stelvane-export", daemon=True)
        self.writing.start()

    def wait(self) -> None:
        """Waits until the data file under way (if any) is written."""
        if self.writing is not None:
            self.writing.join()

    def _write(self, write, path: str, message: str) -> None:
        # The writing thread: whatever happens ends in one `written` signal.
        try:
            write()
        except ExportError as error:
            self.signals.written.emit(path, "", str(error))
        except Exception as error:  # reported, not lost in the thread
            self.signals.written.emit(path, "", f"could not save {path}: {error}")
        else:
            self.signals.written.emit(path, message, "")

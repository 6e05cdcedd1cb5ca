"""The Qt side every window benchmark starts from. Importing this module,
before anything loads Qt, paints offscreen where there is no display and
keeps the benchmarks' remembered settings apart from the user's."""

import gc
import os
import tempfile

if not os.environ.get("DISPLAY") and not os.environ.get("QT_QPA_PLATFORM"):
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

from tarvinel.stelvane import qt_compat  # noqa: E402  (binding before pyqtgraph)
from tarvinel.stelvane.window import settings  # noqa: E402

QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets
PAINT_EVENT = getattr(getattr(QtCore.QEvent, "Type", QtCore.QEvent), "Paint")
DEFERRED_DELETE = getattr(getattr(QtCore.QEvent, "Type", QtCore.QEvent), "DeferredDelete")

# The benchmarks' windows remember their settings in a folder of their own,
# gone at exit: a benchmark's pattern for standard input must not become the
# one the user's next `stelvane -` starts with.
_SETTINGS_HOME = tempfile.TemporaryDirectory(prefix="stelvane-bench-settings-")
QtCore.QSettings.setPath(settings.INI, settings.USER_SCOPE, _SETTINGS_HOME.name)


def application():
    return QtWidgets.QApplication.instance() or QtWidgets.QApplication([])


def discard(window) -> None:
    """Closes `window` and deletes it. A closed top-level window lives on
    until it is deleted (its own signals keep it), with its data sets and
    plots: a benchmark that measures window after window in one process
    would measure each with all the earlier ones still in memory, and
    Python's collector going through them."""
    window.close()
    window.deleteLater()
    QtCore.QCoreApplication.sendPostedEvents(None, DEFERRED_DELETE)
    gc.collect()


class PaintCounter(QtCore.QObject):
    """Paint events of a few widgets, by name (`paints[name]`)."""

    def __init__(self, widgets: dict):
        super().__init__()
        self.names = {}
        self.paints = dict.fromkeys(widgets, 0)
        for name, widget in widgets.items():
            self.names[id(widget)] = name
            widget.installEventFilter(self)

    def eventFilter(self, watched, event):
        if event.type() == PAINT_EVENT:
            name = self.names.get(id(watched))
            if name is not None:
                self.paints[name] += 1
        return False

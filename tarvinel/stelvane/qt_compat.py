"""The one place that chooses the Qt binding, and the one that knows how
the bindings differ: where a class lives (QAction, QShortcut), what a signal
is called, how a key or mouse event is read.

The binding comes from the environment variable QT_API: "pyside6" (the default),
"pyqt5" or "pyqt6", in any letter case. pyqtgraph is told to use the same
binding through PYQTGRAPH_QT_LIB, which it reads when it is first imported, so
this module must be imported before anything imports pyqtgraph.
"""

import os
import sys

# QT_API value -> the name pyqtgraph (and the binding's own package) uses.
_BINDINGS = {"pyqt5": "PyQt5", "pyqt6": "PyQt6", "pyside6": "PySide6"}


def _chosen_api():
    requested = os.environ.get("QT_API", "").strip()
    api = requested.lower() or "pyside6"
    if api not in _BINDINGS:
        raise ImportError(
            f"QT_API={requested!r} is not a supported Qt binding; "
            f"set it to one of: {', '.join(_BINDINGS)}"
        )
    return api


API = _chosen_api()
_LIB = _BINDINGS[API]

# A pyqtgraph already loaded on another binding would mix two Qt libraries in
# one process, which crashes at the first widget that crosses between them.
_pg_qt = sys.modules.get("pyqtgraph.Qt")
if _pg_qt is not None and getattr(_pg_qt, "QT_LIB", _LIB) != _LIB:
    raise ImportError(
        f"pyqtgraph was imported with {_pg_qt.QT_LIB} before qt_compat chose "
        f"{_LIB} (QT_API={API}); import qt_compat first"
    )
os.environ["PYQTGRAPH_QT_LIB"] = _LIB
# Qt 6 splits every larger fill and blend of the raster engine across a
# thread pool and waits for the pieces. Our frames are many small fills
# (curves, grid, ticks, labels): handing them out and waiting for them cost
# more than they save, twice Qt 5's processor time per painted frame, and
# on a machine whose cores the producer needs they are the producer's time.
# Qt reads this once, when the pool is first wanted; a user's own setting
# stands.
os.environ.setdefault("QT_NO_GUI_THREADPOOL", "1")

if API == "pyqt5":
    from PyQt5 import QtCore, QtGui, QtWidgets

    QAction, QShortcut = QtWidgets.QAction, QtWidgets.QShortcut
    Signal = QtCore.pyqtSignal
elif API == "pyqt6":
    from PyQt6 import QtCore, QtGui, QtWidgets

    QAction, QShortcut = QtGui.QAction, QtGui.QShortcut
    Signal = QtCore.pyqtSignal
else:
    from PySide6 import QtCore, QtGui, QtWidgets

    QAction, QShortcut = QtGui.QAction, QtGui.QShortcut
    Signal = QtCore.Signal

# Every other module writes Qt's enums by their scoped names
# (QtCore.Qt.MouseButton.MiddleButton), which PyQt5 5.15 accepts as well.
AlignRight = QtCore.Qt.AlignmentFlag.AlignRight
QT6 = API != "pyqt5"
# The application's quit event, which PyQt5 does not name (QEvent::Quit).
QUIT_EVENT = QtCore.QEvent.Type.Quit if QT6 else 20


def pressed_keys(event) -> "QtGui.QKeySequence":
    """The key and modifiers of a key event as a key sequence."""
    if QT6:
        return QtGui.QKeySequence(event.keyCombination())
    return QtGui.QKeySequence(int(event.modifiers()) | event.key())


def event_point(event) -> "QtCore.QPoint":
    """Where a mouse event happened, in the receiving widget's pixels (Qt 6
    gives position() and warns at every pos())."""
    return event.position().toPoint() if QT6 else event.pos()


def image_array(image: "QtGui.QImage", writable: bool = False):
    """An image's pixels (a format of whole bytes per pixel: RGB888, RGB32)
    as a numpy array of height × width × bytes per pixel: a view on the
    image's memory, valid while the image lives unchanged (`writable`: one
    to write the pixels through). PySide6 hands out the bytes as a buffer,
    PyQt a pointer whose size must be set first. Each line of the image may
    be padded."""
    import numpy as np

    bits = image.bits() if writable else image.constBits()
    if hasattr(bits, "setsize"):
        bits.setsize(image.sizeInBytes())
    width, height, depth = image.width(), image.height(), image.depth() // 8
    lines = np.frombuffer(bits, np.uint8, image.bytesPerLine() * height)
    return lines.reshape(height, image.bytesPerLine())[:, :depth * width].reshape(
        height, width, depth)


def backing_image(widget) -> "QtGui.QImage | None":
    """The image a shown window paints itself into (its backing store's), or
    None where the binding does not reach it (PySide6 does, PyQt does not)
    or the platform paints elsewhere."""
    store = widget.backingStore() if hasattr(widget, "backingStore") else None
    device = store.paintDevice() if store is not None else None
    return device if isinstance(device, QtGui.QImage) else None


def enum_int(value) -> int:
    """A Qt enum's value as a plain int (what a style hint returns): Qt 6's
    enums are Python enums, PyQt5's are ints already."""
    return value.value if hasattr(value, "value") else int(value)


__all__ = ["API", "AlignRight", "QAction", "QShortcut", "QT6", "QUIT_EVENT", "QtCore", "QtGui",
           "QtWidgets", "Signal", "backing_image", "enum_int", "event_point", "image_array",
           "pressed_keys"]

"""The one place that chooses the Qt binding.

The binding comes from the environment variable QT_API: "pyqt5" (the default),
"pyqt6" or "pyside6", in any letter case. pyqtgraph is told to use the same
binding through PYQTGRAPH_QT_LIB, which it reads when it is first imported, so
this module must be imported before anything imports pyqtgraph.
"""

import os
import sys

# QT_API value -> the name pyqtgraph (and the binding's own package) uses.
_BINDINGS = {"pyqt5": "PyQt5", "pyqt6": "PyQt6", "pyside6": "PySide6"}


def _chosen_api():
    requested = os.environ.get("QT_API", "").strip()
    api = requested.lower() or "pyqt5"
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

if API == "pyqt5":
    from PyQt5 import QtCore, QtGui, QtWidgets

    AlignRight = QtCore.Qt.AlignRight
elif API == "pyqt6":
    from PyQt6 import QtCore, QtGui, QtWidgets

    AlignRight = QtCore.Qt.AlignmentFlag.AlignRight
else:
    from PySide6 import QtCore, QtGui, QtWidgets

    AlignRight = QtCore.Qt.AlignmentFlag.AlignRight

__all__ = ["API", "AlignRight", "QtCore", "QtGui", "QtWidgets"]

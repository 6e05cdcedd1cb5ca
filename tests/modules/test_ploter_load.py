"""Loading ploter without pyperclip or without pyqtgraph, each in a fresh
interpreter so the import really happens."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

from tests.support.running import REPO_ROOT


# Runs in the child: makes one module unimportable, then reports as JSON.
CHILD = textwrap.dedent(r"""
    import json, sys
    blocked, how = sys.argv[1], sys.argv[2]
    if how == "missing":
        sys.modules[blocked] = None
    else:
        sys.path.insert(0, how)  # a package of that name whose import raises
    from tarvinel.stelvane import qt_compat
    report = {}
    if blocked == "pyqtgraph":
        try:
            raise KeyError("handled while importing")
        except KeyError:
            try:
                from tarvinel.stelvane import ploter
            except ImportError as error:
                context = error.__context__
                report = {"type": type(error).__name__, "message": str(error),
                          "context": repr(context), "cause": repr(error.__cause__),
                          "context_of_context": repr(getattr(context, "__context__", None))}
        print(json.dumps(report))
        sys.exit()

    import pyqtgraph as pg
    from tarvinel.stelvane import ploter
    QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets
    from pyqtgraph.Qt import QtTest
    app = QtWidgets.QApplication([])
    seen = []
    for name in ("mousePressEvent", "mouseReleaseEvent"):
        def spy(self, ev, name=name):
            seen.append(name)
            getattr(super(pg.PlotWidget, self), name)(ev)
        setattr(pg.PlotWidget, name, spy)
    widget = ploter.PlotWidget()
    widget.resize(400, 300)
    widget.show()
    QtTest.QTest.qWaitForWindowExposed(widget)
    widget.set_data(0, [1.0, 2.0], [1.0, 2.0])
    middle, none = QtCore.Qt.MouseButton.MiddleButton, QtCore.Qt.KeyboardModifier.NoModifier
    QtTest.QTest.keyPress(widget, QtCore.Qt.Key.Key_R)
    report["range_select"] = widget.range_select
    QtTest.QTest.mousePress(widget.viewport(), middle, none, QtCore.QPoint(100, 150))
    QtTest.QTest.mouseRelease(widget.viewport(), middle, none, QtCore.QPoint(300, 150))
    QtTest.QTest.mouseClick(widget.viewport(), QtCore.Qt.MouseButton.LeftButton, none, QtCore.QPoint(200, 150))
    report.update(hasCliper=ploter.hasCliper, has_pc=hasattr(ploter, "pc"), seen=seen,
                  clip=[widget.clippos1, widget.clippos2])
    print(json.dumps(report))
""")


def start_child(tmp_path, blocked, how, raising=None):
    if how == "raising":
        package = tmp_path / blocked
        package.mkdir()
        raising = raising or f'RuntimeError("broken build of {blocked}")'
        (package / "__init__.py").write_text(f"raise {raising}\n")
        how = str(tmp_path)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(REPO_ROOT), os.environ.get("PYTHONPATH", "")]))
    return subprocess.run([sys.executable, "-c", CHILD, blocked, how], capture_output=True, text=True, env=env,
                          timeout=120, cwd=tmp_path)


def run_child(tmp_path, blocked, how):
    done = start_child(tmp_path, blocked, how)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


@pytest.mark.parametrize("how", ["missing", "raising"])
def test_without_pyperclip_the_middle_button_does_nothing(tmp_path, how):
    report = run_child(tmp_path, "pyperclip", how)
    assert report["hasCliper"] is False and report["has_pc"] is False
    assert report["range_select"] is True  # the keys still work
    assert report["clip"] == [0, 0]
    assert report["seen"] == ["mousePressEvent", "mouseReleaseEvent"]  # the left click only


@pytest.mark.parametrize("how, original", [("missing", "ModuleNotFoundError('import of pyqtgraph halted"),
                                           ("raising", "RuntimeError('broken build of pyqtgraph')")])
def test_without_pyqtgraph_the_load_fails_naming_it(tmp_path, how, original):
    report = run_child(tmp_path, "pyqtgraph", how)
    assert (report["type"], report["message"]) == ("ImportError", "Please install pyqtgraph first")
    assert report["context"].startswith(original) and report["cause"] == "None"
    # The exception the importing code was handling stays one link further back.
    assert report["context_of_context"] == "KeyError('handled while importing')"


def test_an_exit_request_while_loading_pyqtgraph_is_not_turned_into_an_import_error(tmp_path):
    done = start_child(tmp_path, "pyqtgraph", "raising", raising="SystemExit(7)")
    assert done.returncode == 7 and "Please install" not in done.stderr

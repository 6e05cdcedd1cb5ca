"""The host side the extension modules are loaded into: the Qt binding choice
and the settings (the data sets have tests/model/test_dataset.py)."""

import importlib.util
import os
import subprocess
import sys

import pytest

from tarvinel.stelvane import config, qt_compat

from tests.support.running import REPO_ROOT

PYQTGRAPH_NAMES = {"pyqt5": "PyQt5", "pyqt6": "PyQt6", "pyside6": "PySide6"}


# --- Qt binding selection ---------------------------------------------------

def run_python(code, qt_api):
    env = dict(os.environ, QT_API=qt_api, PYTHONPATH=str(REPO_ROOT))
    env.pop("PYQTGRAPH_QT_LIB", None)  # set in this process by qt_compat
    return subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=120
    )


def test_this_process_uses_one_binding_everywhere(qtbot):
    import pyqtgraph

    lib = PYQTGRAPH_NAMES[qt_compat.API]
    assert qt_compat.API == os.environ["QT_API"]
    assert pyqtgraph.Qt.QT_LIB == lib
    assert qt_compat.QtWidgets.__name__ == f"{lib}.QtWidgets"
    label = qt_compat.QtWidgets.QLabel("x")
    qtbot.addWidget(label)
    label.setAlignment(qt_compat.AlignRight)
    assert label.alignment() == qt_compat.AlignRight


@pytest.mark.parametrize("requested", ["PyQt5", "pyqt6", "PYSIDE6"])
def test_qt_api_selects_binding_for_qt_compat_and_pyqtgraph(requested):
    api = requested.lower()
    lib = PYQTGRAPH_NAMES[api]
    if importlib.util.find_spec(lib) is None:
        pytest.skip(f"{lib} is not installed (make build QT_API={api})")
    code = (
        "from tarvinel.stelvane import qt_compat\n"
        "import pyqtgraph\n"
        "align = qt_compat.QtCore.Qt.AlignmentFlag.AlignRight\n"
        "print(qt_compat.API, pyqtgraph.Qt.QT_LIB, qt_compat.QtWidgets.__name__,"
        " int(qt_compat.AlignRight) == int(getattr(align, 'value', align)))\n"
    )
    result = run_python(code, requested)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == [api, lib, f"{lib}.QtWidgets", "True"]


def test_unknown_qt_api_fails_the_import_naming_the_choices():
    result = run_python("import tarvinel.stelvane.qt_compat", "tkinter")
    assert result.returncode != 0
    last_line = result.stderr.strip().splitlines()[-1]
    assert last_line.startswith("ImportError: QT_API='tkinter'")
    assert all(name in last_line for name in PYQTGRAPH_NAMES)


def test_pyqtgraph_loaded_on_another_binding_is_refused():
    other = "pyqt6" if qt_compat.API != "pyqt6" else "pyqt5"
    if importlib.util.find_spec(PYQTGRAPH_NAMES[other]) is None:
        pytest.skip(f"needs a second binding ({other}) installed")
    code = (
        f"import os; os.environ['PYQTGRAPH_QT_LIB'] = {PYQTGRAPH_NAMES[other]!r}\n"
        "import pyqtgraph\n"
        "import tarvinel.stelvane.qt_compat\n"
    )
    result = run_python(code, qt_compat.API)
    assert result.returncode != 0
    assert "import qt_compat first" in result.stderr.strip().splitlines()[-1]


# --- settings ---------------------------------------------------------------

def relative_luminance(color):
    def linear(channel):
        c = channel / 255
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4

    return 0.2126 * linear(color.red()) + 0.7152 * linear(color.green()) + 0.0722 * linear(color.blue())


def test_every_curve_key_has_a_distinct_visible_style(qtbot):
    import pyqtgraph as pg

    keys = list(config.ridx)
    assert len(keys) >= 8
    colors = [pg.mkColor(config.defualt_colors[k]) for k in keys]
    assert len({c.rgba() for c in colors}) == len(keys)
    for background in (config.COL_SEL, config.COL_UNSEL):
        lb = relative_luminance(pg.mkColor(background))
        for c in colors:
            lc = relative_luminance(c)
            contrast = (max(lb, lc) + 0.05) / (min(lb, lc) + 0.05)
            assert contrast >= 3, (c.name(), background)
    assert all(config.widths[k] > 0 and config.SymSize[k] > 0 for k in keys)

    plot = pg.PlotWidget()
    qtbot.addWidget(plot)
    plot.setBackground(config.COL_UNSEL)
    assert plot.backgroundBrush().color() == pg.mkColor(config.COL_UNSEL)


def test_style_sheet_parses_for_every_toolbar_widget(qtbot, qtlog):
    w = qt_compat.QtWidgets
    bar = w.QWidget()
    qtbot.addWidget(bar)
    layout = w.QGridLayout(bar)
    for column, child in enumerate([
        w.QRadioButton("Points"), w.QLabel("(X,Y)"), w.QLineEdit("x;y"),
        w.QComboBox(), w.QPushButton("AR"), w.QCheckBox("logX"),
    ]):
        layout.addWidget(child, 0, column)
    bar.setStyleSheet(config.style)
    with qtbot.waitExposed(bar):
        bar.show()
    problems = [r.message for r in qtlog.records if "style" in r.message.lower()]
    assert problems == []

    bar.setStyleSheet("QLineEdit { border: ")  # the check above can see a bad sheet
    bar.ensurePolished()
    qtbot.wait(10)
    assert any("parse" in r.message.lower() for r in qtlog.records)


def test_clipboard_round_trip_on_the_test_display(qapp):
    import pyperclip

    from tests.support.userinput import pasted

    assert os.environ.get("DISPLAY"), "tests run on Xvfb (pytest-xvfb)"
    for text in ("12.5", "-3.25,7"):
        pyperclip.copy(text)
        assert pasted(text) == text

"""The host side the extension modules are loaded into: data sets, the Qt
binding choice and the settings."""

import importlib.util
import os
from pathlib import Path
import subprocess
import sys

from hypothesis import given, strategies as st
import numpy as np
import pytest

from tarvinel.stelvane import config, qt_compat
from tarvinel.stelvane.dataset import Dataset, Run

REPO_ROOT = Path(__file__).resolve().parents[1]
PYQTGRAPH_NAMES = {"pyqt5": "PyQt5", "pyqt6": "PyQt6", "pyside6": "PySide6"}


# --- data sets --------------------------------------------------------------

def dataset_with(names, max_history=10):
    ds = Dataset(max_history=max_history)
    ds.set_column_names(names)
    return ds


def test_rows_and_blocks_arrive_in_order_as_floats():
    ds = dataset_with(["t", "a", "b"])
    ds.append([0, 1.5, 2])
    ds.append([[1, 2, 3], (4, 5, 6)])
    ds.append(np.arange(6.0, 12.0).reshape(2, 3))
    ds.append(np.array([7, 8, 9]))
    assert ds.rows == [
        (0.0, 1.5, 2.0), (1.0, 2.0, 3.0), (4.0, 5.0, 6.0),
        (6.0, 7.0, 8.0), (9.0, 10.0, 11.0), (7.0, 8.0, 9.0),
    ]
    assert ds.column("a") == [1.5, 2.0, 5.0, 7.0, 10.0, 8.0]
    assert all(type(v) is float for row in ds.rows for v in row)
    with pytest.raises(KeyError):
        ds.column("c")


@pytest.mark.parametrize(
    "payload, error",
    [
        ([1, 2], ValueError),                       # row too short
        ([1, 2, 3, 4], ValueError),                 # row too long
        ([[1, 2, 3], [4, 5], [6, 7, 8]], ValueError),  # one bad row in a block
        ([[1, 2, 3], 4], TypeError),                # a number among rows
        ([1, "2", 3], TypeError),                   # text is no number
        ("123", TypeError),                         # text is no row
        (5, TypeError),
        ({1, 2, 3}, TypeError),                     # unordered
        (None, TypeError),
    ],
)
def test_rejected_payload_leaves_stored_rows_alone(payload, error):
    ds = dataset_with(["x", "y", "z"])
    ds.append([[1, 2, 3], [4, 5, 6]])
    with pytest.raises(error):
        ds.append(payload)
    assert ds.rows == [(1.0, 2.0, 3.0), (4.0, 5.0, 6.0)]


def test_data_before_column_names_is_rejected():
    with pytest.raises(ValueError, match="column names"):
        Dataset().append([1.0])


@pytest.mark.parametrize("names", ["ab", ["a", 1], ["a", "b", "a"], None])
def test_bad_column_names_keep_the_old_ones_and_the_rows(names):
    ds = dataset_with(["x", "y"])
    ds.append([1, 2])
    with pytest.raises((TypeError, ValueError)):
        ds.set_column_names(names)
    assert ds.column_names == ["x", "y"]
    assert ds.rows == [(1.0, 2.0)]


def test_column_names_cannot_be_changed_through_the_returned_list():
    ds = dataset_with(["x", "y"])
    ds.column_names.append("z")
    assert ds.column_names == ["x", "y"]
    ds.append([1, 2])


def test_new_column_names_finish_the_run_and_same_names_keep_it():
    ds = dataset_with(["x", "y"])
    ds.append([1, 2])
    ds.set_column_names(("x", "y"))
    assert ds.rows == [(1.0, 2.0)] and ds.history == ()
    ds.set_column_names(["t", "u", "v"])
    assert ds.rows == []
    assert ds.history == (Run(("x", "y"), ((1.0, 2.0),)),)
    ds.append([1, 2, 3])


def test_roll_keeps_a_bounded_history_of_non_empty_runs():
    ds = dataset_with(["x"], max_history=2)
    for run in range(4):
        ds.append([[run], [run + 0.5]])
        ds.roll()
        ds.roll()  # an empty run is not history
    assert [r.rows for r in ds.history] == [((2.0,), (2.5,)), ((3.0,), (3.5,))]
    assert len(ds) == 0 and ds.column_names == ["x"]


payload_rows = st.lists(st.integers(-5, 5) | st.floats(allow_nan=False), min_size=0, max_size=4)
operations = st.lists(
    st.one_of(
        st.tuples(st.just("row"), payload_rows.filter(bool)),
        st.tuples(st.just("block"), st.lists(payload_rows, min_size=1, max_size=3)),
        st.just(("roll", None)),
    ),
    max_size=25,
)


@given(operations)
def test_matches_a_plain_list_model(ops):
    width, max_history = 3, 3
    ds = dataset_with(["a", "b", "c"], max_history=max_history)
    current, history = [], []
    for kind, payload in ops:
        if kind == "roll":
            ds.roll()
            if current:
                history = (history + [tuple(current)])[-max_history:]
                current = []
            continue
        rows = [payload] if kind == "row" else payload
        if all(len(row) == width for row in rows):
            ds.append(payload)
            current += [tuple(map(float, row)) for row in rows]
        else:
            with pytest.raises(ValueError):
                ds.append(payload)
        assert ds.rows == current
    assert [run.rows for run in ds.history] == history


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
    bar.show()
    qtbot.waitExposed(bar)
    problems = [r.message for r in qtlog.records if "style" in r.message.lower()]
    assert problems == []

    bar.setStyleSheet("QLineEdit { border: ")  # the check above can see a bad sheet
    bar.ensurePolished()
    qtbot.wait(10)
    assert any("parse" in r.message.lower() for r in qtlog.records)


def test_clipboard_round_trip_on_the_test_display(qapp):
    import pyperclip

    assert os.environ.get("DISPLAY"), "tests run on Xvfb (pytest-xvfb)"
    for text in ("12.5", "-3.25,7"):
        pyperclip.copy(text)
        assert pyperclip.paste() == text

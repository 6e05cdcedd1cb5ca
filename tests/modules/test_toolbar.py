"""The toolbar as its host sees it: grid, mode switch, buttons, published state.

User actions are real key and mouse events; the host is a small stand-in main
window with the members the toolbar uses.
"""

import gc
import re
import subprocess
import sys
import weakref

import pytest

from tarvinel.stelvane import config, toolbar
from tarvinel.stelvane.qt_compat import AlignRight, QtCore, QtWidgets

from tests.support.standins import MainWindow
from tests.support.userinput import choose


Qt = QtCore.Qt

BUNDLE_CELLS = {"stx": 3, "fx": 5, "fy": 7, "lx": 10, "ly": 11, "linkx": 12, "linky": 13}
OWN_CELLS = {"pb": 0, "tb": 1, "ytxt_lb": 2, "fx_lb": 4, "fy_lb": 6, "AR": 8, "CR": 9}


class CountingToolBar(toolbar.ToolBar):
    """Records every run of the slots the toolbar connects at construction."""

    def __init__(self):
        self.toggle_runs = []
        self.cr_runs = 0
        super().__init__()

    def toggle_mode(self):
        try:
            super().toggle_mode()
        finally:
            self.toggle_runs.append((self.mode, self.fx, self.xypairs, self.sharexy()))

    def CR_action(self):
        self.cr_runs += 1
        super().CR_action()


def wait_placed(qtbot, bundle):
    qtbot.waitUntil(lambda: all(getattr(bundle, name).isVisible() for name in BUNDLE_CELLS))


@pytest.fixture
def bar(qtbot):
    widget = CountingToolBar()
    qtbot.addWidget(widget)
    with qtbot.waitExposed(widget):
        widget.show()
    wait_placed(qtbot, widget.ps)
    return widget


@pytest.fixture
def host(bar):
    mainwindow = MainWindow(["time", "alpha", "beta"], ["freq", "amp", "time"])
    bar.set_mainwindow(mainwindow)
    return mainwindow


def click(qtbot, widget):
    qtbot.mouseClick(widget, Qt.MouseButton.LeftButton)


def edit(qtbot, field, text):
    """Replaces the field's text by typing and ends the edit with Return."""
    field.selectAll()
    qtbot.keyClick(field, Qt.Key.Key_Delete)
    qtbot.keyClicks(field, text)
    qtbot.keyClick(field, Qt.Key.Key_Return)


def cell(bar, widget):
    return bar.layout.getItemPosition(bar.layout.indexOf(widget))


def row(bar, bundle):
    cells = {name: cell(bar, getattr(bar, name)) for name in OWN_CELLS}
    cells.update({name: cell(bar, getattr(bundle, name)) for name in BUNDLE_CELLS})
    return cells


EXPECTED_ROW = {name: (0, col, 1, 1) for name, col in {**OWN_CELLS, **BUNDLE_CELLS}.items()}


def detached(bundle):
    return all(getattr(bundle, n).parent() is None and not getattr(bundle, n).isVisible() for n in BUNDLE_CELLS)


def clear_flags(bar):
    bar.xypairs_dirty = bar.xyfm_dirty = bar.link_dirty = False


# --- module interface -----------------------------------------------------------

CLASS_MEMBERS = {
    "FormatCombo": ["__init__", "set_on_change_event_action", "set_idx"],
    "XFormatCombo": ["__init__"],
    "YFormatCombo": ["__init__"],
    "LineEdit": ["set_on_change_event_action", "set_text"],
    "SelectionBundle": ["__init__", "set_on_change_event_actions", "rm4l", "a2l"],
    "ToolBar": ["__init__", "set_mainwindow", "AR_action", "CR_action", "refresh_layout", "toggle_mode",
                "column_names", "selections", "set_trace_text", "set_point_text", "sharexy", "refresh_comb",
                "link_edited", "generateXYFM", "textEdited"],
}
HANDLER = {"callback": "Callable[[], None]"}
ANNOTATED = {
    ("FormatCombo", "set_on_change_event_action"): HANDLER,
    ("FormatCombo", "set_idx"): {"idx": "int"},
    ("LineEdit", "set_on_change_event_action"): HANDLER,
    ("ToolBar", "column_names"): {"return": "list[str]"},
    ("ToolBar", "selections"): {"return": "SelectionBundle"},
    ("ToolBar", "set_trace_text"): {"text": "str"},
    ("ToolBar", "set_point_text"): {"text": "str"},
}


def test_module_top_level_and_classes(bar):
    # Load order, seen in a fresh interpreter (other tests patch module globals).
    names = subprocess.run(
        [sys.executable, "-c", "from tarvinel.stelvane import toolbar; print(*vars(toolbar))"],
        capture_output=True, text=True, check=True).stdout.split()
    assert [n for n in names if not n.startswith("__")] == [
        "itertools", "re", "Callable", "style", "AlignRight", "QtWidgets", "matched_xy_pairs", *CLASS_MEMBERS]
    assert toolbar.FormatCombo.__bases__ == (QtWidgets.QComboBox,)
    assert toolbar.XFormatCombo.__bases__ == toolbar.YFormatCombo.__bases__ == (toolbar.FormatCombo,)
    assert toolbar.LineEdit.__bases__ == (QtWidgets.QLineEdit,)
    assert toolbar.SelectionBundle.__bases__ == (object,)
    assert toolbar.ToolBar.__bases__ == (QtWidgets.QWidget,)
    for cls_name, members in CLASS_MEMBERS.items():
        namespace = vars(getattr(toolbar, cls_name))
        own = [n for n in namespace if not n.startswith("__") or n == "__init__"]
        assert [n for n in own if n != "staticMetaObject"] == members  # shiboken adds that one
        for name in members:
            function = getattr(namespace[name], "fget", namespace[name])
            assert function.__annotations__ == ANNOTATED.get((cls_name, name), {}), name
            assert function.__defaults__ is None
    for name in ("column_names", "selections"):
        assert vars(toolbar.ToolBar)[name].fset is None
        with pytest.raises(AttributeError):
            setattr(bar, name, None)


# --- construction and layout --------------------------------------------------


def test_new_toolbar(qtbot, bar):
    assert (bar.mode, bar.pb.isChecked(), bar.tb.isChecked()) == ("P", True, False)
    assert bar.toggle_runs == [] and not hasattr(bar, "mainwindow")
    assert (bar.xypairs, bar.fx, bar.fy, bar.lx, bar.ly) == ([], None, None, False, False)
    assert (bar.xypairs_dirty, bar.xyfm_dirty, bar.link_dirty, bar.CR_flag) == (True, True, True, False)

    assert QtWidgets.QWidget.layout(bar) is bar.layout
    margins = bar.layout.contentsMargins()
    assert (margins.left(), margins.top(), margins.right(), margins.bottom()) == (0, 0, 0, 0)
    assert bar.layout.count() == 14 and row(bar, bar.ps) == EXPECTED_ROW
    assert all(getattr(bar.ps, n).parent() is bar for n in BUNDLE_CELLS) and detached(bar.ts)
    assert bar.styleSheet() == config.style

    texts = [w.text() for w in (bar.pb, bar.tb, bar.ytxt_lb, bar.fx_lb, bar.fy_lb, bar.AR, bar.CR)]
    assert texts == ["Points", "Traces", "(X,Y)", "fx", "fy", "AR", "CLR"]
    assert all(lb.alignment() == AlignRight for lb in (bar.ytxt_lb, bar.fx_lb, bar.fy_lb))
    assert (bar.AR.toolTip(), bar.CR.toolTip(), bar.ytxt_lb.toolTip()) == (
        "Auto Range", "Clearing History Plots", "")
    bar.resize(2000, bar.height())
    qtbot.waitUntil(lambda: bar.width() == 2000)
    assert bar.AR.width() <= 30 and bar.CR.width() <= 30

    bar.refresh_layout()
    bar.refresh_layout()
    assert bar.layout.count() == 14 and row(bar, bar.ps) == EXPECTED_ROW and detached(bar.ts)


def test_buttons_act_only_after_set_mainwindow(qtbot, bar):
    click(qtbot, bar.AR)
    click(qtbot, bar.CR)
    assert (bar.CR_flag, bar.cr_runs) == (False, 0)
    with pytest.raises(AttributeError, match="mainwindow"):
        bar.AR_action()

    mainwindow = MainWindow()
    bar.set_mainwindow(mainwindow)
    assert bar.mainwindow is mainwindow
    click(qtbot, bar.AR)
    assert mainwindow.auto_range_presses == 1 and mainwindow.enable_calls == 0
    click(qtbot, bar.CR)
    click(qtbot, bar.CR)
    assert (bar.CR_flag, bar.cr_runs) == (True, 2)
    assert bar.AR_action() is None and mainwindow.enable_calls == 1

    # A second call adds both connections again.
    bar.set_mainwindow(mainwindow)
    click(qtbot, bar.AR)
    click(qtbot, bar.CR)
    assert (mainwindow.auto_range_presses, bar.cr_runs) == (3, 4)


def test_mode_switch_swaps_bundles_and_keeps_their_state(qtbot, bar, host):
    edit(qtbot, bar.ps.stx, "time,alpha")
    choose(qtbot, bar.ps.fx, "mag")
    click(qtbot, bar.ps.ly)
    click(qtbot, bar.ps.linkx)
    point_state = (bar.ps.stx.text(), bar.ps.fx.currentText(), bar.ps.ly.isChecked(), bar.ps.linkx.isChecked())

    click(qtbot, bar.tb)
    wait_placed(qtbot, bar.ts)
    assert (bar.mode, bar.pb.isChecked(), bar.tb.isChecked()) == ("T", False, True)
    assert len(bar.toggle_runs) == 2 and bar.toggle_runs[0] == bar.toggle_runs[1]
    assert bar.toggle_runs[1] == ("T", "real", [], (False, False))
    assert bar.layout.count() == 14 and row(bar, bar.ts) == EXPECTED_ROW and detached(bar.ps)

    edit(qtbot, bar.ts.stx, "freq,amp")
    assert bar.xypairs == [("freq", "amp")]

    # The button already checked: no toggled, no run.
    click(qtbot, bar.tb)
    assert len(bar.toggle_runs) == 2 and bar.mode == "T"

    click(qtbot, bar.pb)
    wait_placed(qtbot, bar.ps)
    assert len(bar.toggle_runs) == 4 and bar.mode == "P" and detached(bar.ts)
    assert row(bar, bar.ps) == EXPECTED_ROW
    assert (bar.ps.stx.text(), bar.ps.fx.currentText(), bar.ps.ly.isChecked(), bar.ps.linkx.isChecked()) == point_state
    assert (bar.xypairs, bar.fx, bar.ly, bar.sharexy()) == ([("time", "alpha")], "mag", True, (True, False))
    assert bar.ts.stx.text() == "freq,amp"


def test_switch_before_set_mainwindow_fails_after_swapping(qtbot, bar):
    bar.ts.fx.set_idx(1)  # runs generateXYFM, which needs no host
    bar.ts.lx.setChecked(True)
    clear_flags(bar)
    with qtbot.capture_exceptions() as errors:
        click(qtbot, bar.tb)
    assert errors and all(isinstance(e[1], AttributeError) for e in errors)
    assert bar.mode == "T" and row(bar, bar.ts) == EXPECTED_ROW and detached(bar.ps)
    assert (bar.fx, bar.lx, bar.xyfm_dirty, bar.xypairs_dirty) == ("imag", True, True, False)


# --- published selection state ------------------------------------------------


def test_selection_flag_follows_changes_of_the_match(qtbot, bar, host, monkeypatch):
    returned = []

    def recording(patterns, lst):
        returned.append(toolbar_match(patterns, lst))
        return returned[-1]

    toolbar_match = toolbar.matched_xy_pairs
    monkeypatch.setattr(toolbar, "matched_xy_pairs", recording)

    edit(qtbot, bar.ps.stx, "time,.*")
    assert bar.xypairs is returned[-1] and bar.xypairs_dirty
    # (new point names, whether the host then sees the flag set)
    steps = [
        (["time", "alpha", "beta"], False),  # unchanged
        (["time", "alpha", "beta", "gamma"], True),  # a pair more
        (["time", "beta", "alpha", "gamma"], True),  # same pairs, other order
        (["time", "beta", "alpha"], True),  # a column went away
        (["time", "beta", "delta"], True),  # one y name differs
    ]
    for names, dirty in steps:
        bar.xypairs_dirty = False
        previous = bar.xypairs
        host.point_data_box.column_names = names
        bar.refresh_comb()
        assert bar.xypairs == [("time", n) for n in names] and bar.xypairs is returned[-1]
        assert bar.xypairs is not previous
        assert bar.xypairs_dirty is dirty, names

    # A finished edit that changes nothing leaves a cleared flag cleared.
    bar.xypairs_dirty = False
    qtbot.keyClick(bar.ps.stx, Qt.Key.Key_Return)
    assert bar.xypairs == [("time", n) for n in host.point_data_box.column_names]
    assert not bar.xypairs_dirty


def test_formats_log_and_share_boxes(qtbot, bar, host):
    choose(qtbot, bar.ps.fy, "phase")
    assert (bar.fx, bar.fy, bar.xyfm_dirty) == ("real", "phase", True)
    clear_flags(bar)
    choose(qtbot, bar.ps.fy, "phase")  # nothing changed: still read and flagged
    assert (bar.fy, bar.xyfm_dirty) == ("phase", True)
    click(qtbot, bar.ps.lx)
    assert (bar.lx, bar.ly) == (True, False)
    click(qtbot, bar.ps.lx)
    assert bar.lx is False

    # A hidden bundle's widget fires the same handlers, which read the active one.
    bar.ts.fx.set_idx(3)
    assert bar.fx == "real"

    assert bar.sharexy() == (False, False) and not bar.link_dirty
    click(qtbot, bar.ps.linky)
    assert bar.sharexy() == (False, True) and bar.link_dirty and not bar.lx
    bar.link_dirty = False
    bar.ts.linkx.setChecked(True)
    assert bar.link_dirty and bar.sharexy() == (False, True)

    bar.link_dirty = False
    click(qtbot, bar.tb)
    assert bar.sharexy() == (True, False) and not bar.link_dirty
    assert (bar.fx, bar.fy) == ("phase", "mag")


def test_pattern_texts_from_the_command_intake(qtbot, bar, host):
    bar.set_trace_text("freq,.*")
    click(qtbot, bar.tb)
    assert bar.xypairs == [("freq", "freq"), ("freq", "amp"), ("freq", "time")]

    bar.set_trace_text("amp,freq")  # mode "T": matched at once
    assert bar.ts.stx.text() == "amp,freq" and bar.xypairs == [("amp", "freq")]

    bar.set_point_text("alpha,time")  # mode "T": shown, matched on the next switch
    assert bar.ps.stx.text() == "alpha,time" and bar.xypairs == [("amp", "freq")]
    click(qtbot, bar.pb)
    assert bar.xypairs == [("alpha", "time")]

    class Text(str):
        pass

    for method, field in ((bar.set_point_text, bar.ps.stx), (bar.set_trace_text, bar.ts.stx)):
        for bad in (None, b"time,alpha", Text("time,beta"), 3):
            before = (field.text(), bar.xypairs)
            with pytest.raises(TypeError, match="'text'"):
                method(bad)
            assert (field.text(), bar.xypairs) == before


@pytest.mark.parametrize("names", [["time", "alpha"], ["it's", 'say "x"', "back\\slash", "tab\t"], []])
def test_tool_tip_shows_column_names(bar, host, names):
    host.point_data_box.column_names = names
    bar.refresh_comb()
    assert bar.ytxt_lb.toolTip() == repr(names)
    if names == ["time", "alpha"]:
        assert bar.ytxt_lb.toolTip() == "['time', 'alpha']"


# --- failures -------------------------------------------------------------------


def test_missing_or_malformed_host_data(qtbot, bar):
    # (Under sip an AttributeError inside a property reads as the property's
    # own missing attribute; the type is what the host can rely on.)
    with pytest.raises(AttributeError):
        bar.textEdited()
    with pytest.raises(AttributeError):
        bar.set_point_text("time,alpha")
    assert bar.ps.stx.text() == "time,alpha"
    bar.generateXYFM()
    assert bar.selections is bar.ps and bar.sharexy() == (False, False)

    mainwindow = MainWindow(["time"], ["time"])
    del mainwindow.trace_data_box.column_names
    bar.set_mainwindow(mainwindow)
    with pytest.raises(AttributeError):
        bar.column_names
    with pytest.raises(AttributeError):
        bar.refresh_comb()

    mainwindow.trace_data_box.column_names = ["time"]
    mainwindow.point_data_box.column_names = ("time", "alpha")
    with pytest.raises(TypeError):
        bar.column_names
    mainwindow.point_data_box.column_names = None
    assert bar.column_names is None
    with pytest.raises(TypeError):
        bar.refresh_comb()
    assert bar.ytxt_lb.toolTip() == ""


def test_invalid_pattern_leaves_selection_untouched(qtbot, bar, host):
    edit(qtbot, bar.ps.stx, "time,alpha")
    bar.refresh_comb()
    tip, selection = bar.ytxt_lb.toolTip(), bar.xypairs
    clear_flags(bar)
    with qtbot.capture_exceptions() as errors:
        edit(qtbot, bar.ps.stx, "time,(alpha")
    assert [type(e[1]) for e in errors] == [re.error]
    assert bar.xypairs is selection and not bar.xypairs_dirty

    # Inside refresh_comb: the formats are read, the tool tip is not updated.
    bar.ps.fx.setCurrentIndex(2)
    host.point_data_box.column_names = ["time"]
    with pytest.raises(re.error):
        bar.refresh_comb()
    assert (bar.fx, bar.xyfm_dirty) == ("mag", True)
    assert bar.ytxt_lb.toolTip() == tip and bar.xypairs is selection and not bar.xypairs_dirty


# --- lifetime -------------------------------------------------------------------


def test_dropped_toolbar_is_collected(qtbot):
    widget = CountingToolBar()
    mainwindow = MainWindow(["time", "alpha"], ["freq"])
    widget.set_mainwindow(mainwindow)
    with qtbot.waitExposed(widget):
        widget.show()
    edit(qtbot, widget.ps.stx, "time,alpha")
    click(qtbot, widget.tb)
    click(qtbot, widget.CR)
    assert widget.mode == "T" and widget.CR_flag

    refs = [weakref.ref(widget), weakref.ref(widget.ps), weakref.ref(widget.ts), weakref.ref(mainwindow)]
    widget.close()
    del widget, mainwindow
    for _ in range(3):
        gc.collect()
    assert [r() for r in refs] == [None] * 4

"""The selection bundle: its row of widgets in a grid, detaching and wiring."""

import pytest

from tarvinel.stelvane import toolbar
from tarvinel.stelvane.qt_compat import QtCore, QtWidgets

from tests.support.userinput import choose, counter

Qt = QtCore.Qt

CELLS = {"stx": 3, "fx": 5, "fy": 7, "lx": 10, "ly": 11, "linkx": 12, "linky": 13}


@pytest.fixture
def host(qtbot):
    """A shown widget with an empty grid, as the toolbar offers one."""
    widget = QtWidgets.QWidget()
    grid = QtWidgets.QGridLayout(widget)
    qtbot.addWidget(widget)
    with qtbot.waitExposed(widget):
        widget.show()
    return widget, grid


def cells(grid, bundle):
    return {name: grid.getItemPosition(grid.indexOf(getattr(bundle, name))) for name in CELLS}


def place(qtbot, bundle, grid):
    """a2l, then lets the event loop show the widgets the grid took in."""
    bundle.a2l(grid)
    qtbot.waitUntil(lambda: all(getattr(bundle, name).isVisible() for name in CELLS))


def click(qtbot, widget):
    qtbot.mouseClick(widget, Qt.MouseButton.LeftButton)


def test_new_bundle_is_detached_and_blank(qtbot):
    bundle = toolbar.SelectionBundle()
    widgets = [getattr(bundle, name) for name in CELLS]
    assert all(w.parent() is None for w in widgets)
    assert [bundle.lx.text(), bundle.ly.text(), bundle.linkx.text(), bundle.linky.text()] == [
        "logX", "logY", "ShareX", "ShareY"]
    assert not any(w.isChecked() for w in widgets[3:])
    assert (bundle.stx.text(), bundle.fx.currentText(), bundle.fy.currentText()) == ("", "real", "mag")
    assert isinstance(bundle.stx, toolbar.LineEdit)
    assert bundle.sels == []


def test_row_survives_detach_and_return(qtbot, host):
    widget, grid = host
    bundle = toolbar.SelectionBundle()
    bundle.set_on_change_event_actions(counter(), counter(), counter())
    place(qtbot, bundle, grid)
    assert grid.count() == 7
    assert cells(grid, bundle) == {name: (0, col, 1, 1) for name, col in CELLS.items()}
    assert all(getattr(bundle, name).parent() is widget for name in CELLS)

    qtbot.keyClicks(bundle.stx, "t,a")
    choose(qtbot, bundle.fy, "real")
    click(qtbot, bundle.lx)
    click(qtbot, bundle.linky)
    before = (bundle.stx.text(), bundle.fx.currentText(), bundle.fy.currentText(),
              [getattr(bundle, n).isChecked() for n in ("lx", "ly", "linkx", "linky")])
    assert before == ("t,a", "real", "real", [True, False, False, True])

    bundle.rm4l()
    assert grid.count() == 0
    for name in CELLS:
        assert getattr(bundle, name).parent() is None
        assert not getattr(bundle, name).isVisible()

    place(qtbot, bundle, grid)
    assert cells(grid, bundle) == {name: (0, col, 1, 1) for name, col in CELLS.items()}
    after = (bundle.stx.text(), bundle.fx.currentText(), bundle.fy.currentText(),
             [getattr(bundle, n).isChecked() for n in ("lx", "ly", "linkx", "linky")])
    assert after == before


def test_each_widget_reports_to_its_handler(qtbot, host):
    widget, grid = host
    bundle = toolbar.SelectionBundle()
    text, fmt, share = counter(), counter(), counter()
    bundle.set_on_change_event_actions(text, fmt, share)
    place(qtbot, bundle, grid)

    def calls():
        return text.calls, fmt.calls, share.calls

    qtbot.keyClicks(bundle.stx, "t,a")
    qtbot.keyClick(bundle.stx, Qt.Key.Key_Return)
    assert calls() == (1, 0, 0)
    choose(qtbot, bundle.fx, "imag")
    choose(qtbot, bundle.fy, "phase")
    assert calls() == (1, 2, 0)
    click(qtbot, bundle.lx)
    click(qtbot, bundle.ly)
    assert calls() == (1, 4, 0)
    click(qtbot, bundle.linkx)
    click(qtbot, bundle.linky)
    click(qtbot, bundle.linky)
    assert calls() == (1, 4, 3)
    bundle.fx.set_idx(0)
    bundle.fy.set_idx(0)
    bundle.stx.set_text("a,t")
    assert calls() == (2, 6, 3)


def test_second_wiring_adds_to_the_first(qtbot, host):
    widget, grid = host
    bundle = toolbar.SelectionBundle()
    text1, fmt1, share1 = counter(), counter(), counter()
    text2, share2 = counter(), counter()
    bundle.set_on_change_event_actions(text1, fmt1, share1)
    bundle.set_on_change_event_actions(text2, fmt1, share2)  # fmt1 wired twice
    place(qtbot, bundle, grid)

    click(qtbot, bundle.lx)
    click(qtbot, bundle.linkx)
    qtbot.keyClick(bundle.stx, Qt.Key.Key_Return)
    choose(qtbot, bundle.fx, "mag")
    assert (text1.calls, text2.calls, fmt1.calls, share1.calls, share2.calls) == (1, 1, 4, 1, 1)

    bundle.fx.set_idx(1)
    bundle.stx.set_text("x")
    assert (text1.calls, text2.calls, fmt1.calls) == (1, 2, 5)

"""Limit lines in the window: given as --limit or typed into the editor (K),
drawn on the plots that show their curve, each crossing marked on the live
plot and counted in the status bar and the summary, against a walk over the
rows sent in blocks (crossings between two blocks included)."""

import multiprocessing

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.model.limits import Limit

from tests.support.crossings import walked
from tests.support.window import WAIT, active_window, filled_curves, put_all

QtCore = qt_compat.QtCore
Qt = QtCore.Qt
BLOCK = 7  # rows a block: crossings fall between blocks as well as inside them


def rows(start, n):
    k = start + np.arange(n, dtype=float)
    a = np.sin(k / 9.0) * 2.0
    b = np.cos(k / 4.0) + np.where(k % 11 == 0, np.nan, 0.0)
    return np.column_stack([k / 10.0, a, b])


@pytest.fixture
def limited(qtbot):
    """A window with limits on a and b, fed a finished run and the current
    one of 400 rows in blocks of BLOCK."""
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue, limits=[Limit("a", 1.5), Limit("b", -0.25)])
    items = [("PN", ["t", "a", "b"]), ("PXY", "t,(a|b)"), ("PD", rows(0, 100)), ("ROLL", None)]
    items += [("PD", rows(100 + start, BLOCK)) for start in range(0, 400, BLOCK)]
    put_all(queue, items)
    win.sent = np.concatenate([rows(100 + start, BLOCK) for start in range(0, 400, BLOCK)])
    qtbot.waitUntil(lambda: len(win.point_dataset) == len(win.sent)
                    and filled_curves(win.history_plot) == [0, 1], timeout=WAIT)
    yield win
    win.close()


def expected_crossings(win, name, value):
    column = {"a": 1, "b": 2}[name]
    return walked(win.sent[:, 0], win.sent[:, column], value)


def test_given_limits_are_drawn_and_their_crossings_marked_and_counted(qtbot, limited):
    a, b = expected_crossings(limited, "a", 1.5), expected_crossings(limited, "b", -0.25)
    assert len(a) > 5 and len(b) > 20
    label = limited.status_bar.limits_label
    qtbot.waitUntil(lambda: label.full_text == f"crossings a {len(a)} · b {len(b)}")
    assert label.isVisible()
    marked = np.array(sorted(limited.limit_lines.marks["live"].marked()))
    wanted = np.array(sorted([(x, 1.5) for x in a] + [(x, -0.25) for x in b]))
    assert marked.shape == wanted.shape and np.allclose(marked, wanted, rtol=1e-12, atol=0)
    for plot_name, plot in (("live", limited.live_plot), ("history", limited.history_plot)):
        lines = limited.limit_lines.marks[plot_name].lines
        assert [(line.isVisible(), line.value(), line.label.format, line.pen.color().name())
                for line in lines.values()] == [
            (True, 1.5, "a limit 1.5", plot.colors[0]), (True, -0.25, "b limit -0.25", plot.colors[1])]
    assert limited.limit_lines.marks["history"].marked() == []  # the current run's crossings only
    summary = limited.summary()["limits"]
    assert summary == [
        {"curve": "a", "value": 1.5, "x": "t", "crossings": len(a),
         "first": pytest.approx(a[0]), "last": pytest.approx(a[-1])},
        {"curve": "b", "value": -0.25, "x": "t", "crossings": len(b),
         "first": pytest.approx(b[0]), "last": pytest.approx(b[-1])}]


def test_the_editor_takes_limits_all_or_none(qtbot, limited):
    live = limited.live_plot
    qtbot.waitUntil(lambda: "a" in limited.limit_lines.marks["live"].lines)
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_K)
    editor = limited.limits_editor
    qtbot.waitUntil(editor.isVisible)
    assert editor.lines.toPlainText() == "a = 1.5\nb = -0.25"
    editor.lines.selectAll()
    qtbot.keyClicks(editor.lines, "b = 0.5")
    qtbot.keyClick(editor.lines, Qt.Key.Key_Return)
    qtbot.keyClicks(editor.lines, "b = x")
    qtbot.keyClick(editor.lines, Qt.Key.Key_Return, Qt.KeyboardModifier.ControlModifier)
    assert editor.message.text() == "line 2: b: 'x' is no number"
    assert limited.limit_lines.limits == [Limit("a", 1.5), Limit("b", -0.25)]  # none taken

    qtbot.keyClick(editor.lines, Qt.Key.Key_Backspace)
    qtbot.keyClicks(editor.lines, "0.5")
    qtbot.keyClick(editor.lines, Qt.Key.Key_Return, Qt.KeyboardModifier.ControlModifier)
    assert editor.message.text() == "line 2: b has a limit already (one a curve)"
    editor.lines.setPlainText("b = 0.5")
    qtbot.mouseClick(editor.apply_button, Qt.MouseButton.LeftButton)
    assert limited.limit_lines.limits == [Limit("b", 0.5)]
    crossed = expected_crossings(limited, "b", 0.5)
    assert limited.status_bar.limits_label.full_text == f"crossings b {len(crossed)}"
    assert not limited.limit_lines.marks["live"].lines["a"].isVisible()
    assert [y for _, y in limited.limit_lines.marks["live"].marked()] == [0.5] * len(crossed)
    editor.lines.clear()
    editor.apply()
    assert not limited.status_bar.limits_label.isVisible()
    assert not any(line.isVisible() for line in limited.limit_lines.marks["live"].lines.values())
    assert limited.limit_lines.marks["live"].marked() == []

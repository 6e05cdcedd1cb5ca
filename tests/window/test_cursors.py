"""The two measuring cursors, placed with real keys and clicks over the
plots: their lines on the live and the history plot, each box's readings
against numpy on the rows sent, kept while rows arrive and while paused,
taken away with Escape, and copied by the middle button to the clipboard."""

import multiprocessing

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.formats.valuetext import duration_text, time_text
from tarvinel.stelvane.protocol import NUMBER, TIME, Columns

from tests.support.timezones import FALL_BACK
from tests.support.userinput import pasted
from tests.support.window import WAIT, active_window, filled_curves, put_all

QtCore = qt_compat.QtCore
Qt = QtCore.Qt
RATE = 100.0  # rows per second of t
ROWS = 2000
NAMES = ["t", "a", "b"]


def rows(start, n, t0=0.0):
    t = t0 + (start + np.arange(n)) / RATE
    k = start + np.arange(n)
    b = np.cos(k / 50.0)
    b[::37] = np.nan  # missing values are no samples
    return np.column_stack([t, np.sin(k / 100.0) * 3.0, b])


@pytest.fixture
def fed(qtbot, request):
    """A window fed a finished run and the current one of rows(); the
    columns are `request.param` if given (t a time column: t0 FALL_BACK)."""
    columns = getattr(request, "param", NAMES)
    t0 = FALL_BACK if isinstance(columns, Columns) else 0.0
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue)
    first, current = rows(0, 500, t0), rows(500, ROWS, t0)
    put_all(queue, [("PN", columns), ("PXY", "t,(a|b)"), ("PD", first), ("ROLL", None),
                    ("PD", current)])
    qtbot.waitUntil(lambda: len(win.point_dataset) == ROWS and win.history_plot.isVisible()
                    and filled_curves(win.history_plot) == [0, 1], timeout=WAIT)
    heights = []  # the layout settled: the live plot's height the same over a few frames
    qtbot.waitUntil(lambda: heights.append(win.live_plot.height()) or heights[-4:] == heights[-1:] * 4)
    win.sent, win.queue_in = current, queue
    yield win
    win.close()


def pointer_at(qtbot, plot, x):
    """Rests the pointer over `plot` at data x `x` (the middle of Y), once
    the view has fitted its data and the window's layout has settled (the
    history plot shows up at a status refresh, moving the live plot's edge)."""
    vb = plot.plotItem.vb
    placed = []

    def resting():
        if not vb.viewRange()[0][0] < x < vb.viewRange()[0][1]:
            return False
        point = plot.mapFromScene(vb.mapViewToScene(QtCore.QPointF(x, sum(vb.viewRange()[1]) / 2)))
        if not placed or placed[-1] != point:
            qtbot.mouseMove(plot.viewport(), point)
            placed.append(point)
        return plot.viewport().mapFromGlobal(qt_compat.QtGui.QCursor.pos()) == point

    qtbot.waitUntil(resting)
    return placed[-1]


def expected(data, a, b):
    """numpy's readings of each curve at cursors a and b: the nearest
    sample with a finite value, and the mean of the finite values between."""
    t = data[:, 0]
    found = {}
    for j, name in ((1, "a"), (2, "b")):
        y = data[:, j]
        ok = np.isfinite(y)
        at = [y[ok][np.argmin(np.abs(t[ok] - x))] for x in (a, b)]
        between = ok & (t >= min(a, b)) & (t <= max(a, b))
        found[name] = (at[0], at[1], y[between].mean())
    return found


def box_lines(win, plot_name="live"):
    return {cells[0]: cells for cells in win.cursors.marks[plot_name].readings()[2:]}


def test_keys_put_the_cursors_at_the_pointer_and_the_box_reads_every_curve(qtbot, fed):
    live, history = fed.live_plot, fed.history_plot
    pointer_at(qtbot, live, 8.0)
    qtbot.keyClick(live, Qt.Key.Key_1)
    pointer_at(qtbot, live, 17.5)
    qtbot.keyClick(live, Qt.Key.Key_2)
    a, b = fed.cursors.positions["A"], fed.cursors.positions["B"]
    per_pixel = np.diff(live.plotItem.vb.viewRange()[0])[0] / live.plotItem.vb.width()
    assert a == pytest.approx(8.0, abs=2 * per_pixel) and b == pytest.approx(17.5, abs=2 * per_pixel)
    # A labelled line at each cursor, on both plots that show t.
    for plot in (live, history):
        lines = fed.cursors.marks["live" if plot is live else "history"].lines
        assert [(line.isVisible(), line.value(), line.label.format) for line in lines.values()] == [
            (True, a, "A"), (True, b, "B")]
    box = fed.cursors.marks["live"].box
    assert box.isVisible() and live.rect().contains(box.geometry())
    head, headings = fed.cursors.marks["live"].readings()[:2]
    assert head == [f"A {a:.6g}", f"B {b:.6g}", f"Δx {b - a:.6g}"]
    assert headings == ["curve", "A", "B", "Δy", "Δy/Δx", "mean"]
    for name, (at_a, at_b, mean) in expected(fed.sent, a, b).items():
        assert box_lines(fed)[name] == [name, f"{at_a:.6g}", f"{at_b:.6g}", f"{at_b - at_a:.6g}",
                                        f"{(at_b - at_a) / (b - a):.6g}", f"{mean:.6g}"]
    curves = {c["curve"]: c for c in fed.summary()["cursors"]["curves"]}
    assert curves["b"]["mean"] == pytest.approx(expected(fed.sent, a, b)["b"][2], rel=1e-12)
    # The history's run ends at t = 5: its curves read nothing at either
    # cursor, and it shows the lines without a box.
    assert not fed.cursors.marks["history"].box.isVisible()
    fed.cursors.place("A", 4.0)
    assert fed.cursors.marks["history"].box.isVisible()
    history_a = box_lines(fed, "history")["a"]
    finished = rows(0, 500)
    between = finished[(finished[:, 0] >= 4.0) & (finished[:, 0] <= b), 1]
    assert history_a[1:] == [f"{finished[400, 1]:.6g}", "–", "nan", "nan", f"{between.mean():.6g}"]


def test_clicks_place_the_cursors_which_stay_as_rows_arrive_and_while_paused(qtbot, fed):
    live = fed.live_plot
    qtbot.mouseClick(live.viewport(), Qt.MouseButton.LeftButton,
                     Qt.KeyboardModifier.ShiftModifier, pointer_at(qtbot, live, 7.0))
    assert fed.cursors.positions["B"] is None
    assert fed.cursors.marks["live"].readings()[0] == [f"A {fed.cursors.positions['A']:.6g}"]
    qtbot.mouseClick(live.viewport(), Qt.MouseButton.LeftButton,
                     Qt.KeyboardModifier.ControlModifier, pointer_at(qtbot, live, 12.0))
    placed = dict(fed.cursors.positions)
    assert placed["A"] == pytest.approx(7.0, abs=0.1) and placed["B"] == pytest.approx(12.0, abs=0.1)
    before = box_lines(fed)

    qtbot.keyClick(live, Qt.Key.Key_Space)  # paused: the box reads the rows held
    more = rows(500 + ROWS, 300)
    more[:, 1:] += 100.0  # values the cursors' rows never had
    fed.queue_in.put(("PD", more))
    qtbot.waitUntil(lambda: len(fed.point_dataset) == ROWS + 300, timeout=WAIT)
    qtbot.wait(300)  # a status refresh or two
    assert fed.cursors.positions == placed and box_lines(fed) == before
    qtbot.keyClick(live, Qt.Key.Key_Space)
    qtbot.waitUntil(lambda: len(filled_curves(live)) == 2 and live.plots[0].xData[-1] > 24.9)
    qtbot.wait(300)
    assert fed.cursors.positions == placed and box_lines(fed) == before  # the same rows there

    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_Escape)
    assert fed.cursors.positions == {"A": None, "B": None}
    assert not fed.cursors.marks["live"].box.isVisible()
    assert not any(line.isVisible() for line in fed.cursors.marks["history"].lines.values())
    assert fed.summary()["cursors"] == {}


@pytest.mark.parametrize("fed", [Columns(NAMES, kinds=(TIME, NUMBER, NUMBER))], indirect=True)
def test_times_read_as_times_and_the_middle_button_copies_the_box(qtbot, fed, berlin):
    live = fed.live_plot
    fed.cursors.place("A", FALL_BACK + 6.0)
    pointer_at(qtbot, live, FALL_BACK + 19.25)
    qtbot.keyClick(live, Qt.Key.Key_2)
    b = fed.cursors.positions["B"]
    head = fed.cursors.marks["live"].readings()[0]
    assert head == [f"A {time_text(FALL_BACK + 6.0)}", f"B {time_text(b)}",
                    f"Δx {duration_text(b - FALL_BACK - 6.0)}"]
    assert head[0] == "A 2026-10-25 02:00:06" and head[2].endswith(" s")
    slope = box_lines(fed)["a"][4]
    assert slope.endswith(" /s")

    box = fed.cursors.marks["live"].box
    qtbot.mouseClick(box, Qt.MouseButton.MiddleButton)
    text = box.text_for_copy
    assert text.splitlines()[0] == "\t".join(head) and len(text.splitlines()) == 4
    assert pasted(text) == text
    assert fed.status_bar.copied == text
    assert fed.status_bar.copied_label.text() == "copied the cursors' readings (2 curve(s))"

"""The window's view tools with real key and mouse events: the legends, the
pointer readout and tracker, pause and the help. Each window is fed known
rows through a real multiprocessing queue the test fills itself."""

import multiprocessing

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.window.controls import KEYS

from tests.support.running import REPO_ROOT
from tests.support.userinput import drag_to, on_widget, type_pattern
from tests.support.window import WAIT, active_window, curve_data, filled_curves, put_all

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt

ROWS = 101  # t = 0 .. 100


def known_rows(start=0, n=ROWS):
    t = np.arange(start, start + n, dtype=float)
    return np.column_stack([t, 2 * t, 100 - t, t % 7, -t])


@pytest.fixture
def fed(qtbot):
    """A window over a queue holding known rows: t, a = 2t, b = 100 - t, c, d = -t."""
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue)
    put_all(queue, [("PN", ["t", "a", "b", "c", "d"]), ("PXY", "t,(a|b)"), ("PD", known_rows())])
    qtbot.waitUntil(lambda: filled_curves(win.live_plot) == [0, 1], timeout=WAIT)
    win.queue_in = queue
    yield win
    win.close()


def test_legends_follow_the_typed_pattern_and_the_legend_key_hides_them(qtbot, fed):
    live = fed.live_plot
    legend = fed.presenter.legends[0]
    colours = live.colors
    assert legend.entries == [("a", colours[0]), ("b", colours[1])]
    assert legend.label.isVisible()

    # The view keys (Space, L, T) are typed into the pattern field as text.
    field = fed.toolbar.ps.stx
    type_pattern(qtbot, field, "t, (c|d)")
    qtbot.waitUntil(lambda: [t for t, _ in legend.entries] == ["c", "d"])
    assert field.text() == "t, (c|d)" and not fed.presenter.paused
    # Curves that do not share their X column name it too.
    type_pattern(qtbot, fed.toolbar.ps.stx, "(t|a),c")
    qtbot.waitUntil(lambda: legend.entries == [("c vs t", colours[0]),
                                                       ("c vs a", colours[1])])

    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_L)
    assert not any(lg.label.isVisible() for lg in fed.presenter.legends)
    assert not fed.controls.legend.isChecked()
    qtbot.mouseClick(fed.controls.buttons["Legend"], Qt.MouseButton.LeftButton)
    assert legend.label.isVisible()

    # F1: the help lists every key and mouse action.
    qtbot.keyClick(live, Qt.Key.Key_F1)
    qtbot.waitUntil(lambda: getattr(fed, "help_dialog", None) is not None
                    and fed.help_dialog.isVisible())
    text = fed.help_dialog.findChild(QtWidgets.QLabel).text()
    assert all(keys in text for keys, _ in KEYS)
    # The README's list says the same.
    readme = (REPO_ROOT / "README.md").read_text(encoding="utf-8")
    listed = readme.replace("**", "").replace("`", "")
    assert all(f"| {keys} | {what} |" in listed for keys, what in KEYS)


def test_a_legend_keeps_off_the_newest_points_and_stays_where_it_is_dragged(qtbot, fed):
    live, legend = fed.live_plot, fed.presenter.legends[0]
    # d = -t against a = 2t: the newest rows run into the top left corner.
    type_pattern(qtbot, fed.toolbar.ps.stx, "d,a")
    qtbot.waitUntil(lambda: legend.entries == [("a", live.colors[0])])
    qtbot.waitUntil(lambda: legend.corner != (0, 0))
    box = legend.label.geometry()
    newest = range(ROWS * 3 // 4, ROWS)
    assert not any(box.contains(on_widget(live, -t, 2 * t)) for t in newest)

    grip = QtCore.QPoint(5, 5)
    qtbot.mousePress(legend.label, Qt.MouseButton.LeftButton, pos=grip)
    drag_to(legend.label, grip + QtCore.QPoint(-150, 40))
    qtbot.mouseRelease(legend.label, Qt.MouseButton.LeftButton, pos=grip + QtCore.QPoint(-150, 40))
    dragged = box.topLeft() + QtCore.QPoint(-150, 40)
    assert legend.label.pos() == dragged
    qtbot.wait(600)  # placed a few times a second, but not any more
    assert legend.label.pos() == dragged
    qtbot.mouseDClick(legend.label, Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: legend.label.pos() == box.topLeft())


def test_readout_and_tracker_show_the_values_under_the_pointer(qtbot, fed):
    live = fed.live_plot
    live.setXRange(0, 100, padding=0)
    live.setYRange(0, 200, padding=0)
    qtbot.wait(50)
    vb = live.plotItem.vb
    # Pointer at x = 40.3: the samples nearest to it are those of t = 40.
    spot = vb.mapViewToScene(QtCore.QPointF(40.3, 120.0)).toPoint()
    label = fed.status_bar.pointer_label
    qtbot.mouseMove(live.viewport(), spot)
    qtbot.waitUntil(lambda: label.text().startswith("x = "))
    x_text, y_text = label.text().split("   ")
    assert float(x_text[4:]) == pytest.approx(40.3, abs=0.2)
    assert float(y_text[4:]) == pytest.approx(120, abs=0.6)

    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_T)
    readout = fed.readouts[0]
    qtbot.waitUntil(lambda: readout.values == {0: (40.0, 80.0), 1: (40.0, 60.0)})
    qtbot.wait(300)  # the status bar's refresh keeps it
    assert label.text().startswith("x = ")
    box = readout.box.toPlainText()
    assert box.splitlines()[:3] == ["x 40", "a: 80", "b: 60"]
    # Then the statistics of the curve nearest to the pointer (a: 80 against
    # b: 60 at y = 120), over the visible X range, t = 0 .. 100.
    a = 2 * known_rows()[:, 0]
    assert box.splitlines()[3] == (f"a: n 101 min 0 max 200 mean {a.mean():.6g} "
                                   f"std {a.std():.6g} last 200")
    assert readout.line.isVisible() and readout.line.value() == pytest.approx(40.3, abs=0.2)

    # F, A and R still reach the plot widget: R switches its range mode.
    qtbot.keyPress(live, Qt.Key.Key_R)
    assert live.range_select
    qtbot.keyRelease(live, Qt.Key.Key_R)

    qtbot.mouseClick(fed.controls.buttons["Tracker"], Qt.MouseButton.LeftButton)
    assert not readout.line.isVisible() and not readout.box.isVisible()
    # The pointer leaves the plot: the readout goes.
    qtbot.mouseMove(fed.toolbar, QtCore.QPoint(20, 10))  # (the data boxes lie off the test screen)
    qtbot.waitUntil(lambda: label.text() == "")


def test_pause_holds_the_plots_while_intake_goes_on_and_resume_shows_the_latest(qtbot, fed):
    live = fed.live_plot
    held_rows = ROWS + 16_000  # more than the plot's width: the curves are thinned
    put_all(fed.queue_in, [("PD", known_rows(ROWS, 16_000))])
    qtbot.waitUntil(lambda: curve_data(live, 0)[0].max() == held_rows - 1, timeout=WAIT)
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_Space)
    assert fed.controls.pause.isChecked()
    status = fed.status_bar
    qtbot.waitUntil(lambda: status.paused_label.isVisible())
    held = curve_data(live, 0)

    put_all(fed.queue_in, [("PD", known_rows(held_rows, 400))])
    qtbot.waitUntil(lambda: fed.point_dataset.rows_stored == held_rows + 400, timeout=WAIT)
    qtbot.waitUntil(lambda: f"points {held_rows + 400:,}" in status.counts_label.text())
    # The held rows only (thinned again should the plot's width change).
    x, y = curve_data(live, 0)
    assert x.max() == held_rows - 1 and len(x) < held_rows / 4 and np.array_equal(y, 2 * x)
    assert "paused" in live.title_text

    # Zooming in while paused thins the held rows again for the new view:
    # more detail, and nothing that arrived after the pause.
    def in_view(x):
        return np.count_nonzero((x >= 4_000) & (x <= 6_000))

    live.setXRange(4_000, 6_000, padding=0)
    qtbot.waitUntil(lambda: in_view(curve_data(live, 0)[0]) > 4 * in_view(held[0]))
    x, y = curve_data(live, 0)
    assert x.max() < held_rows and np.array_equal(y, 2 * x)
    qtbot.keyClick(live, Qt.Key.Key_A)  # following the held rows again: up to the newest held
    qtbot.waitUntil(lambda: curve_data(live, 0)[0].max() == held_rows - 1)

    qtbot.mouseClick(fed.controls.buttons["Pause"], Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: curve_data(live, 0)[0].max() == held_rows + 399)
    assert not status.paused_label.isVisible() and "paused" not in live.title_text

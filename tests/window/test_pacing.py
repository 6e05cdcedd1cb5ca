"""A window with nothing new slows its frame timer right down, and comes
back to the frame rate at once for new data, the pointer, a key, a
toolbar change or a resize. Real queue, real Qt events; the slow tick is
made far slower than the test's patience, so whatever the window shows
after a wake-up came from the wake-up."""

import multiprocessing

import numpy as np
import pytest

from tarvinel.stelvane.presenters.plots import points_wanted
from tarvinel.stelvane.window import pacing
from tarvinel.stelvane import qt_compat

from tests.support.userinput import type_pattern
from tests.support.window import WAIT, active_window, curve_data, filled_curves, put_all

QtCore = qt_compat.QtCore
Qt = QtCore.Qt


def rows(start, n=50):
    t = np.arange(start, start + n, dtype=float)
    return np.column_stack([t, 2 * t, 100 - t])


class Ticks:
    """Counts the frame timer's ticks."""

    def __init__(self, window):
        self.count = 0
        window.timer.timeout.connect(self._tick)

    def _tick(self):
        self.count += 1


@pytest.fixture
def still(qtbot, monkeypatch):
    """A window that showed some rows and then got nothing new: slowed down."""
    monkeypatch.setattr(pacing, "IDLE_INTERVAL", 60.0)
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue)
    put_all(queue, [("PN", ["t", "a", "b"]), ("PXY", "t,a"), ("PD", rows(0))])
    qtbot.waitUntil(lambda: filled_curves(win.live_plot) == [0], timeout=WAIT)
    qtbot.waitUntil(lambda: win.pacer.idle, timeout=WAIT)
    win.queue_in = queue
    win.ticks = Ticks(win)
    yield win
    win.close()


def woken(qtbot, window):
    """Waits for the frame timer to tick at the frame rate again."""
    ticks = window.ticks.count
    qtbot.waitUntil(lambda: window.ticks.count >= ticks + 3, timeout=2000)
    return True


def test_a_still_window_stops_ticking_and_new_rows_wake_it(qtbot, still):
    ticks, wakes = still.ticks.count, still.pacer.wakes
    qtbot.wait(500)
    assert still.ticks.count == ticks and still.pacer.wakes == wakes  # nothing woke it
    frames = still.live_plot.frames
    still.queue_in.put(("PD", rows(50)))
    qtbot.waitUntil(lambda: len(curve_data(still.live_plot, 0)[0]) == 100, timeout=2000)
    assert still.pacer.wakes == wakes + 1 and not still.pacer.idle
    qtbot.waitUntil(lambda: still.pacer.idle, timeout=WAIT)  # and slows down again
    assert still.live_plot.frames == frames + 1  # the new rows were painted once, counted once


def test_the_pointer_wakes_it_and_the_readout_follows(qtbot, still):
    live = still.live_plot
    spot = live.plotItem.vb.mapViewToScene(QtCore.QPointF(20.0, 50.0)).toPoint()
    qtbot.mouseMove(live.viewport(), spot)
    assert woken(qtbot, still)
    qtbot.waitUntil(lambda: still.status_bar.pointer_label.text().startswith("x = "))


def test_a_key_wakes_it_and_the_plots_show_the_pause(qtbot, still):
    qtbot.keyClick(still.live_plot, Qt.Key.Key_Space)
    assert woken(qtbot, still)
    qtbot.waitUntil(lambda: still.live_plot.title_text.endswith("(paused)"))


def test_a_key_in_the_one_frame_bytes_on_the_pipe_woke_it_for_wakes_it_for_good(qtbot, still):
    still.pacer.wake_for_data()  # as the pipe's notifier does: one frame, unless it draws
    qtbot.keyClick(still.live_plot, Qt.Key.Key_Shift)
    assert woken(qtbot, still) and not still.pacer.idle


def test_a_toolbar_change_wakes_it_and_the_new_pattern_is_drawn(qtbot, still):
    type_pattern(qtbot, still.toolbar.ps.stx, "t,(a|b)")
    qtbot.waitUntil(lambda: filled_curves(still.live_plot) == [0, 1], timeout=2000)
    assert not still.pacer.idle


def test_a_resize_wakes_it_and_the_curves_are_made_for_the_new_width(qtbot, still):
    live = still.live_plot
    wanted = points_wanted(live)
    still.resize(still.width() + 400, still.height())
    assert woken(qtbot, still)
    qtbot.waitUntil(lambda: still.plot_presenters[0].shown[2] != wanted, timeout=2000)

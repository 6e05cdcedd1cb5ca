"""The live plot draws a frame only when something visible moved by a
pixel: a slow source whose rows land on the pixels already drawn costs few
frames, a fast one keeps drawing, and a pan or a zoom is drawn at once.
Real queue, real Qt events; frames are counted by the plot's own frame
counter (paints that showed new data)."""

import multiprocessing
import time

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat

from tests.support.window import WAIT, active_window, curve_data, put_all

QtCore = qt_compat.QtCore
HISTORY = 10_000  # rows before the test's own: t = 0 .. 999.9 s, 0.1 s apart
STEP = 0.1


def history_rows() -> np.ndarray:
    t = STEP * np.arange(HISTORY)
    return np.column_stack([t, 10 * np.sin(t / 50), np.cos(t / 50)])


@pytest.fixture
def drawn(qtbot):
    """A window that drew HISTORY rows of (t, a) and has settled: (window, queue)."""
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue)
    put_all(queue, [("PN", ["t", "a", "b"]), ("PXY", "t,a"), ("PD", history_rows())])
    plot = win.live_plot
    qtbot.waitUntil(lambda: len(curve_data(plot, 0)[0]) and win.pacer.idle, timeout=WAIT)
    yield win, queue
    win.close()


def send_slowly(qtbot, queue, rows) -> None:
    """One row every 100 ms, as a slow sensor sends them."""
    for row in rows:
        queue.put(("PD", [list(row)]))
        qtbot.wait(100)


def newest_x(plot) -> float:
    return float(curve_data(plot, 0)[0][-1])


def test_a_slow_source_on_the_same_pixels_draws_few_frames_and_keeps_every_row(qtbot, drawn):
    win, queue = drawn
    plot, last = win.live_plot, history_rows()[-1]
    frames = plot.frames
    # 15 rows 0.1 s apart on a 1000 s wide view (a tenth of a pixel each),
    # at the last row's height: drawn once or twice as they add up to a pixel.
    rows = [(last[0] + STEP * (i + 1), last[1], last[2]) for i in range(15)]
    send_slowly(qtbot, queue, rows)
    qtbot.waitUntil(lambda: len(win.point_dataset) == HISTORY + 15, timeout=WAIT)
    qtbot.wait(150)
    assert plot.frames - frames <= 4
    assert win.presenter.plot_presenters[0].still.held >= 10
    # A row on another pixel (a jump in a) is drawn at once, with the held ones.
    queue.put(("PD", [[rows[-1][0] + STEP, -10.0, 0.0]]))
    qtbot.waitUntil(lambda: newest_x(plot) == pytest.approx(rows[-1][0] + STEP), timeout=1000)
    assert curve_data(plot, 0)[1][-1] == -10.0


def test_between_a_slow_sources_rows_held_back_the_frame_timer_rests(qtbot, drawn):
    win, queue = drawn
    last, resting = history_rows()[-1], 0
    for i in range(8):
        queue.put(("PD", [[last[0] + STEP * (i + 1), last[1], last[2]]]))
        qtbot.wait(70)  # a frame's tick took the row, drew nothing and slowed down
        resting += win.pacer.idle
        qtbot.wait(30)
    qtbot.waitUntil(lambda: len(win.point_dataset) == HISTORY + 8, timeout=WAIT)
    assert resting >= 6  # at the frame rate it would rest after a quarter of a second only


def test_a_fast_source_keeps_drawing(qtbot, drawn):
    win, queue = drawn
    plot = win.live_plot
    t, frames, start = history_rows()[-1][0], plot.frames, time.monotonic()
    # 30 blocks 20 ms apart, each 20 s further on the X axis: a changed picture every time.
    for i in range(30):
        block_t = t + 20 * (i + 1) + STEP * np.arange(5)
        queue.put(("PD", np.column_stack([block_t, 10 * np.sin(block_t), np.cos(block_t)])))
        qtbot.wait(20)
    qtbot.waitUntil(lambda: newest_x(plot) == pytest.approx(block_t[-1]), timeout=WAIT)
    drawn_per_second = (plot.frames - frames) / (time.monotonic() - start)
    assert drawn_per_second >= 10  # the display's rate on a quiet machine; generous here


def test_a_zoom_and_a_pan_are_drawn_at_once_with_the_rows_held_back(qtbot, drawn):
    win, queue = drawn
    plot, last = win.live_plot, history_rows()[-1]
    rows = [(last[0] + STEP * (i + 1), last[1], last[2]) for i in range(3)]
    send_slowly(qtbot, queue, rows)
    qtbot.waitUntil(lambda: len(win.point_dataset) == HISTORY + 3, timeout=WAIT)
    vb = plot.plotItem.vb
    paints = PaintCount(plot.viewport())
    vb.scaleBy(x=0.5, center=QtCore.QPointF(last[0], 0.0))
    qtbot.waitUntil(lambda: paints.count >= 1, timeout=200)
    assert not plot.following()
    # The zoomed view's curve holds the rows held back as well.
    qtbot.waitUntil(lambda: newest_x(plot) == pytest.approx(rows[-1][0]), timeout=1000)
    before, x_range = paints.count, vb.viewRange()[0]
    vb.translateBy(x=-100.0)
    qtbot.waitUntil(lambda: paints.count > before, timeout=200)
    assert vb.viewRange()[0][0] == pytest.approx(x_range[0] - 100.0)


class PaintCount(QtCore.QObject):
    """Paint events of one widget."""

    def __init__(self, widget):
        super().__init__(widget)
        self.count = 0
        widget.installEventFilter(self)

    def eventFilter(self, watched, event):
        if event.type() == QtCore.QEvent.Type.Paint:
            self.count += 1
        return False


def test_a_frame_drawn_for_one_curve_takes_the_rows_held_back_of_the_others(qtbot):
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue)
    put_all(queue, [("PN", ["t", "a", "b"]), ("PXY", "t,(a|b)"), ("PD", history_rows())])
    plot, last = win.live_plot, history_rows()[-1]
    qtbot.waitUntil(lambda: len(curve_data(plot, 1)[0]) and win.pacer.idle, timeout=WAIT)
    # At the last row's time: b's rows stay on its last point, held back ...
    send_slowly(qtbot, queue, [(last[0], last[1], last[2])] * 2)
    qtbot.waitUntil(lambda: len(win.point_dataset) == HISTORY + 2, timeout=WAIT)
    qtbot.wait(100)
    assert len(curve_data(plot, 1)[0]) == len(curve_data(plot, 0)[0])
    held = len(curve_data(plot, 1)[0])
    # ... until a jumps a pixel row: the frame drawn for it takes b's too.
    queue.put(("PD", [[last[0], -10.0, last[2]]]))
    qtbot.waitUntil(lambda: curve_data(plot, 0)[1][-1] == -10.0, timeout=WAIT)
    assert win.presenter.plot_presenters[0].still.held >= 1
    assert len(curve_data(plot, 1)[0]) > held and curve_data(plot, 1)[1][-1] == last[2]
    win.close()

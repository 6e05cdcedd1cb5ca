"""The application end to end: the real window on Xvfb, the real producer
process and queue, driven by real key and mouse events."""

import math
import multiprocessing
import signal
import sys

import numpy as np
import pyperclip
import pytest

from tarvinel.stelvane import config, qt_compat
from tarvinel.stelvane.app import create_app
from tarvinel.stelvane.window.mainwindow import MainWindow

from tests.support.userinput import choose, pasted, send_key, type_pattern
from tests.support.window import WAIT, curve_data, filled_curves, put_all

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt
@pytest.fixture
def window(qtbot):
    """The application as `python -m tarvinel.stelvane` starts it, a little slower."""
    pyperclip.set_clipboard("xclip")
    application = create_app(["--rate", "400", "--run-length", "300", "--trace-rate", "15",
                              "--trace-points", "41", "--columns", "6"])
    win = application.window
    assert application.producer is win.producer and application.queue is win.queue
    with qtbot.waitExposed(win):  # shown by create_app
        pass
    qtbot.waitUntil(lambda: len(win.point_dataset) > 20 and win.trace_dataset.payloads_stored > 1,
                    timeout=WAIT)
    yield win
    producer = win.producer.process
    win.close()
    assert not producer.is_alive()
    assert producer.exitcode == (-signal.SIGKILL if getattr(win, "killed", False) else 0)
    assert sys.excepthook is not win.excepthook


def test_typed_pattern_shows_one_curve_per_matched_pair(qtbot, window):
    bar, live = window.toolbar, window.live_plot
    assert bar.xypairs == [("time", "sine"), ("time", "cosine"), ("time", "sinc")]

    type_pattern(qtbot, bar.ps.stx, "time , (noise|sine)")
    qtbot.waitUntil(lambda: filled_curves(live) == [0, 1])
    assert bar.xypairs == [("time", "sine"), ("time", "noise")]
    assert (bar.xypairs_dirty, bar.xyfm_dirty, bar.link_dirty, bar.CR_flag) == (False,) * 4
    assert live.XLabel.text() == "X:time" and live.YLabel.text() == "Y:sine, noise"
    qtbot.wait(100)  # between two frames the curves show exactly the current run
    ds = window.point_dataset
    for key, (x_name, y_name) in enumerate(bar.xypairs):
        x, y = curve_data(live, key)
        assert np.array_equal(x, ds.column(x_name)) and np.array_equal(y, ds.column(y_name))
    qtbot.waitUntil(lambda: window.status_bar.pairs_label.text() == "pairs 2")

    # Every column against every other: more pairs than curves.
    type_pattern(qtbot, bar.ps.stx, ".*,.*")
    qtbot.waitUntil(lambda: filled_curves(live) == list(config.ridx))
    assert len(bar.xypairs) == 36
    qtbot.waitUntil(lambda: window.status_bar.pairs_label.text() == f"pairs 36 ({len(config.ridx)} shown)")


def test_traces_mode_formats_log_share_and_history(qtbot, window):
    bar, live, history = window.toolbar, window.live_plot, window.history_plot
    qtbot.mouseClick(bar.tb, Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: bar.mode == "T" and filled_curves(live) == [0])
    assert bar.xypairs == [("freq", "S21")] and (bar.fx, bar.fy) == ("real", "mag")
    traces = window.trace_dataset
    x, y = curve_data(live, 0)
    assert np.array_equal(x, traces.column("freq"))
    assert np.allclose(y, np.abs(traces.column("S21")))
    assert live.YLabel.text() == "Y:mag(S21)"

    choose(qtbot, bar.ts.fy, "phase")
    qtbot.waitUntil(lambda: live.YLabel.text() == "Y:phase(S21) [deg]")
    qtbot.wait(100)
    x, y = curve_data(live, 0)
    assert np.allclose(y, np.angle(traces.column("S21"), deg=True))
    assert np.ptp(y) > 90  # the resonance turns the phase

    qtbot.mouseClick(bar.ts.lx, Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: live.plotItem.getAxis("bottom").logMode)
    assert history.plotItem.getAxis("bottom").logMode and not live.plotItem.getAxis("left").logMode
    qtbot.mouseClick(bar.ts.linkx, Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: history.plotItem.vb.linkedView(0) is live.plotItem.vb)
    assert history.XAxisLinked and not history.YAxisLinked

    # Earlier traces collect in the history plot, one gap between two traces.
    qtbot.waitUntil(lambda: len(curve_data(history, 0)[0]) > 2 * 41)
    x, _ = curve_data(history, 0)
    assert np.isnan(x).sum() == len(x) // 42

    # Clearing: no trace from before the click comes back. The empty history
    # may last less than a frame of a busy machine (traces come every 1/15 s),
    # so the check is on how many traces are shown against those that came.
    def traces_shown_since(first):
        assert (len(curve_data(history, 0)[0]) + 1) // 42 <= traces.run_number - first

    live_trace = traces.run_number
    qtbot.mouseClick(bar.CR, Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: not bar.CR_flag, timeout=WAIT)
    traces_shown_since(live_trace)
    qtbot.waitUntil(lambda: filled_curves(history) == [0], timeout=WAIT)  # new ones come
    traces_shown_since(live_trace)

    # Back to points: the point pattern is still there.
    qtbot.mouseClick(bar.pb, Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: bar.mode == "P" and filled_curves(live) == [0, 1, 2])


def test_auto_range_button_makes_every_plot_follow_its_data(qtbot, window):
    for plot in window.plots:
        plot.setXRange(-5, -4)
        assert plot.plotItem.vb.autoRangeEnabled()[0] is False
    qtbot.mouseClick(window.toolbar.AR, Qt.MouseButton.LeftButton)
    assert all(plot.plotItem.vb.autoRangeEnabled()[0] for plot in window.plots)
    live = window.live_plot
    qtbot.waitUntil(lambda: live.plotItem.vb.viewRange()[0][1] > 0)
    # The toolbar's other way in: AR_action calls enable_all_auto_range.
    window.history_plot.setYRange(-5, -4)
    window.toolbar.AR_action()
    assert window.history_plot.plotItem.vb.autoRangeEnabled()[1]


def test_a_producer_that_dies_is_reported(qtbot, window):
    window.killed = True
    window.producer.process.kill()
    status = window.statusBar()
    # The watch sees the death at its next look, which comes late on a loaded machine.
    qtbot.waitUntil(lambda: status.currentMessage() == "the producer stopped (exit code -9)",
                    timeout=WAIT)
    assert window.status_bar.problems_label.text() == "⚠ 1"


def test_middle_button_copies_positions_and_the_status_bar_shows_them(qtbot, window):
    live = window.live_plot
    live.setFocus()
    vb = live.plotItem.vb
    left, right = QtCore.QPoint(200, 150), QtCore.QPoint(500, 150)

    qtbot.mouseClick(live.viewport(), Qt.MouseButton.MiddleButton, pos=right)
    expected = vb.mapSceneToView(QtCore.QPointF(right)).x()
    assert pasted(repr(live.clippos2)) == window.status_bar.copied == repr(live.clippos2)
    assert math.isclose(float(window.status_bar.copied), expected, rel_tol=1e-6, abs_tol=1e-9)
    assert window.status_bar.copied_label.text() == f"copied x = {live.clippos2!r}"

    send_key(live, QtCore.QEvent.Type.KeyPress, Qt.Key.Key_R, "r")
    qtbot.mousePress(live.viewport(), Qt.MouseButton.MiddleButton, pos=left)
    qtbot.mouseRelease(live.viewport(), Qt.MouseButton.MiddleButton, pos=right)
    send_key(live, QtCore.QEvent.Type.KeyRelease, Qt.Key.Key_R, "r")
    first, second = live.clippos1, live.clippos2
    assert first < second
    assert pasted(f"{first!r},{second!r}") == window.status_bar.copied == f"{first!r},{second!r}"
    assert window.status_bar.copied_label.text() == f"copied x {first!r} → {second!r}  (Δ {second - first:.6g})"


def test_bad_input_is_reported_and_loses_no_good_data(qtbot):
    queue = multiprocessing.get_context("spawn").Queue()
    win = MainWindow(queue)
    qtbot.addWidget(win)
    win.show()
    win.start()
    status = win.statusBar()
    bar, live = win.toolbar, win.live_plot
    put_all(queue, [
        ("PN", ["time", "a", "a"]),
        ("PXY", "time,a.*"),
        "PD",
        ("PD",),
        (5, "x"),
        ("pd", [1, 2, 3]),
        ("PD", [[0, 1, 2], [1, 2], [2, 3, 4]]),
        ("PD", [3, math.nan, 5]),
        ("PXY", "time,(a"),
        ("PXY", 5),
        ("TD", np.zeros((3, 2))),
        ("PD", [4, 5, 6]),
    ])
    qtbot.waitUntil(lambda: len(win.point_dataset) == 4, timeout=WAIT)
    qtbot.waitUntil(lambda: filled_curves(live) == [0, 1])
    messages = [message for message, _ in win.problems.entries]
    expected = [
        "points: duplicate column names renamed: a -> a#2",
        "QueueHandler - fifo Content must be tuple",
        'QueueHandler -the tuple must be like ("command_type" , "DATA")',
        "QueueHandler - the command should be a string",
        "QueueHandler - unknown command : pd",
        "points: 1 of 3 row(s) rejected (a row has 2 values, 3 columns expected); 2 kept",
        "invalid pattern 'time,(a': missing ), unterminated subpattern at position 5",
        "TypeError",  # the toolbar's own text about 'text' follows
        "traces: data arrived before column names; dropped",
    ]
    assert len(messages) == len(expected), "\n".join(messages)
    for message, start in zip(messages, expected):
        assert message.startswith(start)
    assert "text" in messages[7]
    assert status.currentMessage() == expected[-1]
    assert win.status_bar.problems_label.text() == f"⚠ {len(expected)}"
    # The NaN is a missing value: no problem, but the data box counts it.
    qtbot.waitUntil(lambda: "1 not drawn" in win.point_data_box.title())

    assert win.point_dataset.column_names == ["time", "a", "a#2"]
    assert bar.xypairs == [("time", "a"), ("time", "a#2")]
    x, y = curve_data(live, 1)
    assert x.tolist() == [0, 2, 3, 4]
    assert np.array_equal(y, [2, 4, 5, 6])
    x, y = curve_data(live, 0)
    assert np.array_equal(y, [1, 3, math.nan, 5], equal_nan=True)

    # A pattern typed by the user that does not compile: reported by the
    # window's exception hook, not an abort; the selection stays.
    win.show()
    type_pattern(qtbot, bar.ps.stx, "time,[a")
    qtbot.waitUntil(lambda: status.currentMessage().startswith("invalid pattern 'time,[a'"))
    assert bar.xypairs == [("time", "a"), ("time", "a#2")]

    # The same problem again is counted, not listed twice.
    put_all(queue, [("PD", [1, 2])] * 3)
    qtbot.waitUntil(lambda: win.problems.count == len(expected) + 4)
    assert win.problems.entries[-1][1] == 3 and status.currentMessage().endswith("(×3)")
    win.close()
    assert sys.excepthook is not win.excepthook


def test_long_runs_are_thinned_to_the_plot_width_and_zooming_brings_detail(qtbot):
    queue = multiprocessing.get_context("spawn").Queue()
    win = MainWindow(queue)
    qtbot.addWidget(win)
    with qtbot.waitExposed(win):
        win.show()
    win.start()
    live = win.live_plot
    live.setXRange(0, 10)  # zoomed before there is anything to show
    qtbot.wait(100)
    assert win.problems.count == 0
    win.all_enable_auto_range()
    n = 16_000
    t = np.arange(n, dtype=float)
    y = np.sin(t / 500)
    y[12_345] = 7.0  # one spike, which thinning must keep
    put_all(queue, [("PN", ["t", "y"]), ("PXY", "t,y"), ("PD", np.column_stack([t, y]))])
    qtbot.waitUntil(lambda: filled_curves(live) == [0], timeout=WAIT)
    qtbot.wait(200)  # the layout has settled, and the curves follow the plot's width
    width = live.plotItem.vb.width()
    x, shown = curve_data(live, 0)
    assert 1.9 * width <= len(x) <= 2 * width + 30
    assert shown.max() == 7.0 and x[-1] == n - 1
    assert live.plots[0].opts["symbol"] is None  # dense: no symbols

    def in_view():
        x = curve_data(live, 0)[0]
        return np.count_nonzero((x >= 0) & (x <= n / 6))

    assert in_view() < width / 2
    live.setXRange(0, n / 6, padding=0)  # the user zooms in: about two points a pixel in view
    qtbot.waitUntil(lambda: in_view() >= 1.5 * width)
    x, _ = curve_data(live, 0)
    assert len(x) <= 16 * width + 30
    win.all_enable_auto_range()
    qtbot.waitUntil(lambda: len(curve_data(live, 0)[0]) < 3 * width)
    win.close()

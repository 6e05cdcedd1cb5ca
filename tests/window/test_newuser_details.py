"""The smaller things a new user meets in a real window: the wheel over a
time axis, the readout's precision, the date on an hour-level axis,
frequencies with SI prefixes, a state plot's steps, buttons that are on,
and the live title's trace number against the data box's."""

import re
from types import SimpleNamespace

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME, Columns, TextRows

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt
DAY = 86_400.0
START = 1_705_300_000.0  # 2024-01-15: epoch seconds, a time column


@pytest.fixture
def window(qtbot, started):
    win, queue = started
    win.resize(1000, 700)
    win.activateWindow()
    qtbot.waitActive(win)
    yield win, queue
    win.close()
    queue.close()


def feed(qtbot, win, queue, names, rows, kinds=(TIME, NUMBER), words=None):
    queue.put(("PN", Columns(list(names), list(kinds), [""] * len(names))))
    queue.put(("PXY", f"{names[0]},{names[1]}"))
    queue.put(("PD", rows if words is None else TextRows(rows, words)))
    qtbot.waitUntil(lambda: len(win.point_dataset) == len(rows), timeout=10_000)
    qtbot.waitUntil(lambda: win.live_plot.curve_data(0) is not None)


def wheel(plot, steps: int, modifiers=Qt.KeyboardModifier.NoModifier):
    """Wheel clicks over the middle of the plot's view."""
    view = plot.plotItem.vb.sceneBoundingRect().center()
    local = QtCore.QPointF(plot.mapFromScene(view))
    event = QtGui.QWheelEvent(local, QtCore.QPointF(plot.mapToGlobal(local.toPoint())),
                              QtCore.QPoint(0, 0), QtCore.QPoint(0, 120 * steps),
                              Qt.MouseButton.NoButton, modifiers, Qt.ScrollPhase.NoScrollPhase,
                              False)
    QtWidgets.QApplication.sendEvent(plot.viewport(), event)


def axis_texts(plot, side="bottom"):
    specs, _ = plot.plotItem.getAxis(side).measured_specs()
    return [text for _, _, text in specs[2] if text]


def test_the_wheel_over_a_time_axis_zooms_x_only_and_ctrl_wheel_both(qtbot, window):
    win, queue = window
    t = START + 3600.0 * np.arange(24 * 30)
    feed(qtbot, win, queue, ("time", "v"), np.column_stack([t, np.sin(np.arange(len(t)) / 9)]))
    vb = win.live_plot.plotItem.vb
    x, y = (tuple(r) for r in vb.viewRange())
    wheel(win.live_plot, 2)
    qtbot.wait(50)
    x2, y2 = (tuple(r) for r in vb.viewRange())
    # X zoomed; Y still follows the data: no empty Y range over the dates.
    assert x2[1] - x2[0] < 0.9 * (x[1] - x[0]) and vb.autoRangeEnabled()[1]
    _, shown_y = win.live_plot.curve_data(0)
    assert y2[0] <= shown_y.min() and shown_y.max() <= y2[1]
    wheel(win.live_plot, 2, Qt.KeyboardModifier.ControlModifier)
    qtbot.wait(50)
    x3, y3 = (tuple(r) for r in vb.viewRange())
    assert x3[1] - x3[0] < 0.9 * (x2[1] - x2[0]) and y3[1] - y3[0] < 0.9 * (y2[1] - y2[0])


def test_daily_data_reads_as_days_and_an_hour_level_zoom_says_its_date(qtbot, window):
    win, queue = window
    t = START + DAY * np.arange(3 * 365)
    feed(qtbot, win, queue, ("time", "v"), np.column_stack([t, np.cos(np.arange(len(t)) / 50)]))
    live = win.live_plot
    qtbot.mouseMove(live.viewport(), live.mapFromScene(live.plotItem.vb.sceneBoundingRect().center()))
    qtbot.waitUntil(lambda: win.status_bar.pointer_label.text().startswith("x = "))
    x_text = win.status_bar.pointer_label.text().split("   ")[0]
    assert re.fullmatch(r"x = \d{4}-\d\d-\d\d", x_text), x_text  # a day: no microseconds
    live.plotItem.vb.setXRange(START + 400 * DAY + 9 * 3600, START + 400 * DAY + 13 * 3600,
                               padding=0)
    qtbot.wait(100)
    texts = axis_texts(live)
    assert any(re.match(r"[A-Z][a-z]{2} \d+ \d\d:\d\d", text) for text in texts), texts


def test_frequencies_read_with_si_prefixes(qtbot, window):
    win, queue = window
    f = np.linspace(1.40e9, 1.50e9, 401)
    feed(qtbot, win, queue, ("freq", "level"), np.column_stack([f, np.exp(-((f - 1.42e9) / 5e6) ** 2)]),
         kinds=(NUMBER, NUMBER))
    assert all(text.endswith(" GHz") for text in axis_texts(win.live_plot))
    live = win.live_plot
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_T)  # the tracker, and the pointer over the plot
    middle = live.mapFromScene(live.plotItem.vb.sceneBoundingRect().center())
    qtbot.mouseMove(live.viewport(), middle - QtCore.QPoint(40, 0))  # a move, wherever it was
    qtbot.mouseMove(live.viewport(), middle)
    qtbot.waitUntil(lambda: win.readouts[0].box.isVisible())
    assert re.match(r"x = 1\.4\d* GHz", win.status_bar.pointer_label.text())
    assert re.search(r"x 1\.4\d* GHz", win.readouts[0].box.textItem.toPlainText())
    qtbot.waitUntil(lambda: win.point_data_box.table.item(0, 1) is not None
                    and win.point_data_box.table.item(0, 1).text() == "1.5 GHz", timeout=2000)


def test_a_state_plot_draws_steps(qtbot, window):
    win, queue = window
    t = START + 60.0 * np.arange(6)
    feed(qtbot, win, queue, ("time", "state"), np.column_stack([t, [0, 1, 1, 2, 0, 1]]),
         kinds=(TIME, TEXT), words={1: ["idle", "busy", "error"]})
    x, y = win.live_plot.curve_data(0)
    # Each word held until the next row's time: steps, no slopes between words.
    assert x.tolist() == np.repeat(t, 2)[1:].tolist()
    assert y.tolist() == np.repeat([0.0, 1, 1, 2, 0, 1], 2)[:-1].tolist()


def test_a_button_that_is_on_looks_plainly_different(qtbot, window):
    win, _ = window
    button = win.controls.buttons["Tracker"]

    def mean_colour():
        image = button.grab().toImage()
        colours = [image.pixelColor(x, image.height() // 2) for x in range(2, image.width() - 2)]
        return np.mean([[c.red(), c.green(), c.blue()] for c in colours], axis=0)
    off = mean_colour()
    qtbot.mouseClick(button, Qt.MouseButton.LeftButton)
    assert win.controls.tracker.isChecked()
    on = mean_colour()
    assert np.abs(on - off).sum() > 150


def test_the_live_title_and_the_data_box_name_the_same_trace(qtbot, window):
    win, queue = window
    qtbot.mouseClick(win.toolbar.tb, Qt.MouseButton.LeftButton)
    queue.put(("TN", ["f", "S21"]))
    queue.put(("TXY", "f,S21"))
    f = np.linspace(1.0, 2.0, 101)
    for number in range(1, 8):
        queue.put(("TD", np.column_stack([f, f * number])))
        qtbot.waitUntil(lambda: win.trace_dataset.payloads_stored >= number, timeout=5000)
        qtbot.wait(30)  # a frame or two, less than the status refresh
        title = re.search(r"trace (\d+)", win.live_plot.title_text)
        box = re.search(r"run (\d+)", win.trace_data_box.full_title)
        assert title and box and title.group(1) == box.group(1)




def test_the_point_box_says_its_rows_are_the_first_while_the_file_is_converted(qtbot, window):
    win, queue = window
    said = []  # the producer's status pipe, taken whole at each look
    win.watch.producer = SimpleNamespace(is_alive=lambda: True,
                                         messages=lambda: [said.pop() for _ in said[:]])
    queue.put(("PN", ["t", "v"]))
    queue.put(("PD", np.column_stack([np.arange(50.0), np.arange(50.0)])))
    said.append(("reading", "/data/long.csv", True))
    qtbot.waitUntil(lambda: "first 50 rows" in win.point_data_box.full_title, timeout=5000)
    said.append(("read", {"rows": 50, "columns": 2, "read_seconds": 0.5}))
    qtbot.waitUntil(lambda: win.point_data_box.full_title.endswith("50 rows"), timeout=5000)

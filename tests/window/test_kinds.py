"""The window over columns that say what they hold: a time column on a time
axis, a text column's words as the ticks of a state plot, units in the
labels, and times and words wherever a user reads a value (readout,
tracker, data box, legend, middle-button copy). The producer's side is put
on the queue directly, as the readers put it: a Columns, then TextRows."""

import queue as queue_module
import re

import numpy as np
import pytest

from tarvinel.stelvane.widgets import axes
from tarvinel.stelvane import ploter, qt_compat
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME, Columns, TextRows

from tests.support.axes import agrees_with_readout, drawn_texts
from tests.support.timezones import FALL_BACK, HOUR
from tests.support.window import WAIT, active_window, filled_curves, put_all

QtCore = qt_compat.QtCore
Button = QtCore.Qt.MouseButton
COLUMNS = Columns(["when", "volts", "state"], [TIME, NUMBER, TEXT], ["", "V", ""])
WORDS = ["idle", "busy", "error"]
ROWS = 180  # a minute apart, across the autumn change (02:00 to 03:00 twice)


def rows(start=0, count=ROWS):
    k = np.arange(start, start + count, dtype=float)
    return np.column_stack([FALL_BACK - 2 * HOUR + 60 * k, np.sin(k / 20), k % 3])


class Clipboard:
    """Stands in for pyperclip: keeps what was copied, in order."""

    def __init__(self):
        self.texts = []

    def copy(self, value):
        self.texts.append(value)


@pytest.fixture
def window(qtbot, berlin):
    queue = queue_module.Queue()
    win = active_window(qtbot, queue)
    win.queue_in = queue
    yield win
    win.close()


def presenter(qtbot, win, pattern, items):
    put_all(win.queue_in, [("PN", COLUMNS), ("PXY", pattern), *items])
    qtbot.waitUntil(lambda: bool(filled_curves(win.live_plot)), timeout=WAIT)
    qtbot.wait(50)  # the frame after has settled the axes


def test_a_time_column_reads_as_local_times_everywhere(qtbot, window):
    presenter(qtbot, window, "when,(volts|state)", [("PD", TextRows(rows(), {2: WORDS}))])
    live = window.live_plot
    axis = live.plotItem.getAxis("bottom")
    assert isinstance(axis, axes.TimeAxis)
    texts = drawn_texts(axis)
    assert len(texts) >= 3 and all(re.fullmatch(r"\d\d:\d\d|Oct 25", t) for t in texts), texts
    values = {text: value for value, text in zip(*axis_ticks(axis))}
    assert all(agrees_with_readout(v, t) for t, v in values.items())
    # The mixed Y side (volts and states) is plain numbers; units in the labels and legend.
    assert type(live.plotItem.getAxis("left")) is axes.AXIS_CLASSES[NUMBER]
    assert (live.XLabel.text(), live.YLabel.text()) == ("X:when", "Y:volts [V], state")
    assert [name for name, _ in window.plot_presenters[0].legend.entries] == ["volts [V]", "state"]

    window.refresh_status(0.0)
    box = window.point_data_box.table
    cells = [(box.item(i, 0).text(), box.item(i, 1).text()) for i in range(3)]
    assert cells == [("when", "2026-10-25 02:59:00"), ("volts [V]", f"{np.sin(179 / 20):.6g}"),
                     ("state", "error")]

    # The pointer over the last sample: the readout and the tracker in local time and words.
    window.controls.tracker.trigger()
    readout = window.readouts[0]
    point = live.plotItem.vb.mapViewToScene(QtCore.QPointF(rows()[-1, 0], 0.0))
    readout.scene_pos = point
    readout.refresh()
    assert window.status_bar.pointer_label.text().startswith("x = 2026-10-25 02:59:")
    box_text = readout.box.textItem.toPlainText()
    assert box_text.splitlines()[:3] == ["x 2026-10-25 02:59:00", f"volts [V]: {np.sin(179 / 20):.6g}",
                                         "state: error"]
    # Then the statistics of the curve nearest to the pointer (y = 0: volts).
    assert box_text.splitlines()[3].startswith("volts [V]: n 180 min -0.999923 max ")


def axis_ticks(axis):
    low, high = axis.range
    values = [v for _, level in axis.tickValues(low, high, axis.width()) for v in level]
    return values, axis.tickStrings(values, 1.0, axis.step.seconds)


def test_a_state_plot_ticks_its_words_and_numbers_bring_the_plain_axes_back(qtbot, window):
    presenter(qtbot, window, "when,state", [("PD", TextRows(rows(0, 60), {2: WORDS[:2]}))])
    live, history = window.live_plot, window.history_plot
    left = live.plotItem.getAxis("left")
    assert isinstance(left, axes.LevelsAxis) and left.words == tuple(WORDS[:2])
    # A word first seen later is a new level on the axis that is there.
    put_all(window.queue_in, [("PD", TextRows(rows(60, 60), {2: WORDS[2:]})), ("ROLL", None)])
    qtbot.waitUntil(lambda: filled_curves(history) == [0], timeout=WAIT)
    qtbot.wait(50)
    assert live.plotItem.getAxis("left") is left and left.words == tuple(WORDS)
    assert drawn_texts(left) == WORDS[::-1]  # top to bottom
    for plot in (history,):  # the finished run reads as it did live
        assert isinstance(plot.plotItem.getAxis("bottom"), axes.TimeAxis)
        assert plot.plotItem.getAxis("left").words == tuple(WORDS)

    # Plain names again: a new run of numbers, on plain axes, without units.
    t = np.arange(10.0)
    put_all(window.queue_in, [("PN", ["when", "volts", "state"]), ("PD", np.column_stack([t, t, t]))])
    plain = axes.AXIS_CLASSES[NUMBER]
    qtbot.waitUntil(lambda: type(live.plotItem.getAxis("bottom")) is plain, timeout=WAIT)
    assert type(live.plotItem.getAxis("left")) is plain
    assert live.YLabel.text() == "Y:state" and live.plotItem.vb.viewRange()[0][1] < 100
    # The history still shows the run of times and states.
    assert isinstance(history.plotItem.getAxis("bottom"), axes.TimeAxis)


def test_the_middle_button_copies_times_as_iso_texts_and_a_range_as_a_duration(
        qtbot, window, monkeypatch):
    clipboard = Clipboard()
    monkeypatch.setattr(ploter, "pc", clipboard)
    presenter(qtbot, window, "when,volts", [("PD", rows())])
    live = window.live_plot
    vb = live.plotItem.vb

    def pixel(t):
        return vb.mapViewToScene(QtCore.QPointF(t, 0.0)).toPoint()

    live.setXRange(FALL_BACK - HOUR, FALL_BACK + HOUR, padding=0)
    qtbot.mouseClick(live.viewport(), Button.MiddleButton, pos=pixel(FALL_BACK + HOUR / 2))
    at = live.clippos2
    assert clipboard.texts[-2:] == [at, window.status_bar.copied]
    assert re.fullmatch(r"2026-10-25T02:[23]\d:\d\d(\.\d+)?\+01:00", window.status_bar.copied)
    assert window.status_bar.copied_label.text().startswith("copied x = 2026-10-25 02:")

    live.range_select = True  # R held
    qtbot.mousePress(live.viewport(), Button.MiddleButton, pos=pixel(FALL_BACK - HOUR / 2))
    qtbot.mouseRelease(live.viewport(), Button.MiddleButton, pos=pixel(FALL_BACK + HOUR / 2))
    live.range_select = False
    first, second = window.status_bar.copied.split(",")
    assert first.endswith("+02:00") and second.endswith("+01:00")  # the same clock time, twice
    assert first[11:13] == second[11:13] == "02"  # a pixel apart, not an hour
    shown = window.status_bar.copied_label.text()
    assert re.fullmatch(r"copied x 2026-10-25 02:\S+ → 2026-10-25 02:\S+  \(Δ (59 min \d+ s|1 h)\)",
                        shown), shown

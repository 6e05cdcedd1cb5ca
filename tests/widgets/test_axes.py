"""The axes a user reads: times in the local zone at every zoom and across
daylight-saving changes, the words of a text column as levels, and the
switch between kinds on a plot that keeps working as before."""
import math
import re

import pyqtgraph as pg
import pytest

from tarvinel.stelvane.widgets import axes, timeticks, views
from tarvinel.stelvane import ploter, qt_compat
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME
from tarvinel.stelvane.formats.valuetext import utc_offset

from tests.support.axes import agrees_with_readout, drawn_texts
from tests.support.timezones import FALL_BACK, HOUR, SPRING_FORWARD, local_zone

QtCore, QtGui = qt_compat.QtCore, qt_compat.QtGui
Key, Modifier, Button = QtCore.Qt.Key, QtCore.Qt.KeyboardModifier, QtCore.Qt.MouseButton
DAY, YEAR = 86400, 365.25 * 86400
LENGTH = 800  # pixels of the axis
LORD_HOWE_CHANGE = 1775314800  # 2026-04-05 02:00 +11:00 becomes 01:30 +10:30


def ticks(axis, low, high, length=LENGTH):
    """[(value, text)] of the axis over [low, high], as its paint asks for them."""
    found = []
    for spacing, values in axis.tickValues(low, high, length):
        found += zip(values, axis.tickStrings(values, 1.0, spacing))
    return sorted(found)


@pytest.fixture
def plot(qtbot):
    widget = views.PlotView("live")
    qtbot.addWidget(widget)
    widget.resize(LENGTH, 400)
    return widget


@pytest.fixture
def time_axis(plot):
    return axes.set_axis_kind(plot, "bottom", TIME)


@pytest.mark.parametrize("span, texts", [
    (40 * YEAR, r"\d{4}"), (2 * YEAR, r"\d{4}|[A-Z][a-z]{2}"), (3 * 7 * DAY, r"[A-Z][a-z]{2} \d+|\d{4}"),
    (2 * DAY, r"\d\d:\d\d|[A-Z][a-z]{2} \d+"), (2 * HOUR, r"\d\d:\d\d"), (120, r"\d\d:\d\d:\d\d"),
    (3, r"\d\d:\d\d:\d\d|\d\d\.\d+"), (0.03, r"\d\d:\d\d:\d\d|\d\d\.\d{3}"),
])
@pytest.mark.parametrize("start", [1796720400 + 0.0001, SPRING_FORWARD - 1.7 * HOUR, FALL_BACK - 1.2])
def test_time_ticks_read_as_the_readout_at_every_zoom_without_crowding(berlin, time_axis, span, texts, start):
    shown = ticks(time_axis, start, start + span)
    assert len(shown) >= 4
    assert all(re.fullmatch(texts, text) and agrees_with_readout(v, text) for v, text in shown), shown
    if time_axis.step.unit in timeticks.FIXED_UNITS:
        assert all(on_the_local_clock_grid(v, time_axis.step) for v, _ in shown)
    pixels_per_second = LENGTH / span
    for (v0, t0), (v1, t1) in zip(shown, shown[1:]):
        room = (v1 - v0) * pixels_per_second
        assert room >= (time_axis.text_extent(t0) + time_axis.text_extent(t1)) / 2, (t0, t1)


def test_on_the_spring_change_the_missing_hour_has_no_tick(berlin, plot, time_axis):
    plot.setXRange(SPRING_FORWARD - 3 * HOUR, SPRING_FORWARD + 3 * HOUR, padding=0)
    shown = ticks(time_axis, *time_axis.range)
    texts = [text for _, text in shown]
    assert not [t for t in texts if t.startswith("02:")] and "Mar 29" in texts
    assert (SPRING_FORWARD, "03:00") in shown
    steps = {round(v1 - v0) for (v0, _), (v1, _) in zip(shown, shown[1:])}
    assert len(steps) == 1  # evenly spaced in real time: the clock's jump is a whole step
    plot.show()
    assert drawn_texts(time_axis) == [t for v, t in shown if time_axis.range[0] < v < time_axis.range[1]]


def test_on_the_autumn_change_the_repeated_hour_has_its_ticks_twice(berlin, time_axis):
    shown = ticks(time_axis, FALL_BACK - 2 * HOUR, FALL_BACK + HOUR)
    assert [v for v, text in shown if text == "02:00"] == [FALL_BACK - HOUR, FALL_BACK]
    assert len({round(v1 - v0) for (v0, _), (v1, _) in zip(shown, shown[1:])}) == 1


def on_the_local_clock_grid(value, step) -> bool:
    """Whether a tick of a fixed step sits on a multiple of it on the local clock."""
    wall_ms = round((value + utc_offset(math.floor(value))) * 1000)
    return wall_ms % round(timeticks.FIXED_UNITS[step.unit] * 1000 * step.count) == 0


def test_a_change_by_half_an_hour_keeps_the_ticks_on_the_local_hour(time_axis):
    with local_zone("Australia/Lord_Howe"):  # +11:00 to +10:30 on 2026-04-05
        shown = ticks(time_axis, LORD_HOWE_CHANGE - 5 * HOUR, LORD_HOWE_CHANGE + 5 * HOUR)
        assert time_axis.step.unit == "h"
        assert all(on_the_local_clock_grid(v, time_axis.step) for v, _ in shown)
        assert all(text.endswith(":00") or text == "Apr 5" for _, text in shown), shown


def test_days_across_a_change_start_at_local_midnight(berlin, time_axis):
    shown = dict((text, v) for v, text in ticks(time_axis, FALL_BACK - 5 * DAY, FALL_BACK + 5 * DAY))
    assert shown["Oct 26"] - shown["Oct 24"] == 2 * DAY + HOUR  # 25 hours on the 25th


def test_a_time_axis_on_a_log_scale_ticks_as_the_number_axis_does(plot, time_axis):
    plot.set_log_mode(True, False)
    plain = pg.AxisItem("bottom")
    plain.setLogMode(True, False)
    ours, theirs = ticks(time_axis, 0.5, 3.5), ticks(plain, 0.5, 3.5)
    # The same ticks and texts, but minor ticks unlabelled where they would crowd.
    assert time_axis.logMode and [v for v, _ in ours] == [v for v, _ in theirs]
    assert all(text in ("", plain_text) for (_, text), (_, plain_text) in zip(ours, theirs))
    assert [t for v, t in ours if float(v).is_integer()] == ["10¹", "10²", "10³"]


class TestLevels:
    WORDS = ["idle", "busy", "error"]

    def test_each_level_is_ticked_with_its_word(self):
        axis = axes.LevelsAxis("left", self.WORDS)
        assert ticks(axis, -0.5, 2.5, 300) == [(0.0, "idle"), (1.0, "busy"), (2.0, "error")]
        assert ticks(axis, 0.6, 1.4, 300) == [(1.0, "busy")]
        axis.set_words(self.WORDS + ["a much longer state name than any axis shows"])
        assert ticks(axis, 2.5, 3.5, 300) == [(3.0, "a much longer state nam…")]

    @pytest.mark.parametrize("side, count, length", [
        ("left", 400, 300), ("bottom", 60, 300),
        ("bottom", 14, 300),  # few enough to measure, too wide to fit
    ])
    def test_too_many_words_for_the_length_fall_back_to_whole_numbers(self, side, count, length):
        axis = axes.LevelsAxis(side, [f"state {k}" for k in range(count)])
        shown = ticks(axis, -0.5, count - 0.5, length)
        assert len(shown) >= 2 and all(float(text) == v == int(v) for v, text in shown)
        zoomed = ticks(axis, 9.5, 12.5, length)  # three words fit again
        assert zoomed == [(10.0, "state 10"), (11.0, "state 11"), (12.0, "state 12")]


class TestSwitching:
    def test_an_axis_changes_kind_keeping_label_grid_log_scale_and_view(self, plot):
        item = plot.plotItem
        item.setLabel("bottom", "when", units="h")
        plot.set_log_mode(False, True)
        plot.setXRange(1e9, 1e9 + DAY, padding=0)
        before = plot.viewRange()
        for kind in (TIME, TEXT, NUMBER, TIME):
            axis = axes.set_axis_kind(plot, "bottom", kind, ["a", "b"])
            assert item.getAxis("bottom") is axis and axes.axis_kind(axis) == kind
            assert (axis.labelText, axis.labelUnits, axis.label.isVisible()) == ("when", "h", True)
            assert axis.grid == item.getAxis("left").grid != False  # noqa: E712 (alpha or False)
            assert (axis.logMode, item.getAxis("left").logMode) == (False, True)
            assert plot.viewRange() == before and list(axis.range) == before[0]
        plot.set_log_mode(True, True)
        assert axes.set_axis_kind(plot, "bottom", TEXT, ["a"]).logMode

    def test_a_time_axis_gives_the_view_its_limits_back_when_it_goes(self, plot):
        axes.set_axis_kind(plot, "bottom", TIME)
        axes.set_axis_kind(plot, "bottom", NUMBER)
        plot.setXRange(-1e12, 1e12, padding=0)
        assert plot.viewRange()[0] == pytest.approx([-1e12, 1e12])

    def test_the_same_kind_keeps_the_axis_and_takes_new_words(self, plot):
        axis = axes.set_axis_kind(plot, "left", TEXT, ["on"])
        assert axes.set_axis_kind(plot, "left", TEXT, ["on", "off"]) is axis
        assert axis.words == ("on", "off")
        assert axes.set_axis_kind(plot, "bottom", NUMBER) is plot.plotItem.getAxis("bottom")

    def test_keys_and_middle_button_copy_work_over_a_time_axis(self, qtbot, plot, monkeypatch):
        copied = []
        monkeypatch.setattr(ploter.pc, "copy", copied.append)
        axes.set_axis_kind(plot, "bottom", TIME)
        plot.set_data(0, [FALL_BACK - HOUR, FALL_BACK + HOUR], [1.0, 2.0])
        plot.setXRange(0, 10, padding=0)
        with qtbot.waitExposed(plot):
            plot.show()
        qtbot.keyClick(plot, Key.Key_F)
        low, high = plot.viewRange()[0]
        assert low <= FALL_BACK - HOUR and FALL_BACK + HOUR <= high < FALL_BACK + 2 * HOUR
        vb = plot.plotItem.vb
        pixel = vb.mapViewToScene(QtCore.QPointF(FALL_BACK, 1.5)).toPoint()
        qtbot.mouseClick(plot.viewport(), Button.MiddleButton, pos=pixel)
        assert copied == [plot.clippos2]
        assert math.isclose(plot.clippos2, FALL_BACK, abs_tol=(high - low) / 100)

"""The plot views as a new user steers them with keys and the wheel: F
after a deep zoom into a long file, the wheel over a time axis, the spectrum's
band, the readout's precision."""


import numpy as np
import pytest

from tarvinel.stelvane import qt_compat

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt
DAY = 86_400.0
START = 1_700_000_000.0  # epoch seconds: a time column


@pytest.fixture
def window(qtbot, started):
    win, queue = started
    win.activateWindow()
    qtbot.waitActive(win)
    yield win, queue
    win.close()
    queue.close()


def feed(qtbot, win, queue, names, rows):
    queue.put(("PN", list(names)))
    queue.put(("PXY", f"{names[0]},{names[1]}"))
    for block in np.array_split(rows, max(1, len(rows) // 5000)):
        queue.put(("PD", block))
    qtbot.waitUntil(lambda: len(win.point_dataset) == len(rows), timeout=10_000)


def x_view(plot):
    return tuple(plot.plotItem.vb.viewRange()[0])


def test_f_after_a_deep_zoom_fits_the_whole_file(qtbot, window):
    win, queue = window
    t = START + 3600.0 * np.arange(4 * 365 * 24)  # four years, hourly
    rows = np.column_stack([t, np.sin(np.arange(len(t)) / 500.0)])
    feed(qtbot, win, queue, ("time", "v"), rows)
    live = win.live_plot
    middle = t[len(t) // 2]
    live.plotItem.vb.setXRange(middle, middle + 2 * DAY, padding=0)  # zoomed to two days
    qtbot.waitUntil(lambda: not live.following())
    qtbot.wait(200)  # the curves follow the zoom: a window around the view
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_F)
    qtbot.wait(100)
    low, high = x_view(live)
    span = t[-1] - t[0]
    assert low <= t[0] and high >= t[-1] and high - low < 1.1 * span
    y_low, y_high = live.plotItem.vb.viewRange()[1]
    assert y_low <= -0.99 and y_high >= 0.99


def on_widget(plot, item) -> QtCore.QRect:
    """Where a text item is drawn, in the plot widget's pixels: it ignores
    the view's scaling, so its bounds are pixels around its anchor."""
    anchor = plot.viewport().mapTo(plot, plot.mapFromScene(item.scenePos()))
    return item.boundingRect().toRect().translated(anchor)


def text_rects(axis):
    specs, _ = axis.measured_specs()
    return [(rect, text) for rect, _, text in specs[2] if text]


def test_corner_labels_stay_off_the_ticks_the_tracker_and_log_labels_do_not_stack(
        qtbot, window):
    win, queue = window
    x = np.arange(400.0)
    feed(qtbot, win, queue, ("t", "level"), np.column_stack([x, 10.0 + 90.0 * x / 399]))
    live = win.live_plot
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_T)  # the tracker on
    view = live.plotItem.vb
    middle = live.mapFromScene(view.sceneBoundingRect().center())
    qtbot.mouseMove(live.viewport(), middle)
    qtbot.waitUntil(lambda: win.readouts[0].box.isVisible())
    box = on_widget(live, win.readouts[0].box)
    top_of_view = live.mapFromScene(view.sceneBoundingRect()).boundingRect().top()
    left_axis = live.plotItem.getAxis("left")
    for label in (live.XLabel, live.YLabel):
        assert label.geometry().bottom() < top_of_view and not label.geometry().intersects(box)
        for rect, _ in text_rects(left_axis):
            tick = live.mapFromScene(left_axis.mapRectToScene(rect)).boundingRect()
            assert not label.geometry().intersects(tick)
    # logY by a click on its box: one decade, its minor ticks labelled where there is room.
    win.resize(900, 500)
    qtbot.mouseClick(win.modes["P"].controls.boxes["logY"], Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: left_axis.logMode)
    qtbot.wait(100)
    rects = [rect for rect, _ in text_rects(left_axis)]
    assert len(rects) >= 2
    for i, first in enumerate(rects):
        assert not any(first.intersects(other) for other in rects[i + 1:])


def test_the_spectrum_shows_the_band_of_its_power_and_g_makes_its_axis_logarithmic(
        qtbot, window):
    win, queue = window
    t = np.arange(4000) / 1000.0  # a kilohertz of samples: Nyquist at 500 Hz
    feed(qtbot, win, queue, ("t", "slow"), np.column_stack([t, np.sin(2 * np.pi * 5.0 * t)]))
    live, spectrum = win.live_plot, win.spectrum.plot
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_P)
    qtbot.waitUntil(lambda: spectrum.curve_data(0) is not None and win.spectrum.band_shown is not None)
    low, high = x_view(spectrum)
    assert low <= 0.0 and 6.0 < high < 50.0  # the 5 Hz peak in the band, far below 500 Hz
    frequency, amplitude = spectrum.curve_data(0)
    assert abs(frequency[np.argmax(amplitude)] - 5.0) < 0.5
    qtbot.keyClick(live, Qt.Key.Key_G)
    qtbot.waitUntil(lambda: spectrum.plotItem.getAxis("bottom").logMode)
    qtbot.waitUntil(lambda: win.spectrum.band_shown is not None and x_view(spectrum)[1] < 2.0)
    low, high = x_view(spectrum)
    assert -1.0 < low < 0.5 and np.log10(6.0) < high < np.log10(50.0)
    # A zoom of the user's stays; A brings the band back.
    spectrum.plotItem.vb.setXRange(0.0, 0.3, padding=0)
    qtbot.wait(200)
    assert x_view(spectrum) == (0.0, 0.3)
    spectrum.setFocus()
    qtbot.keyClick(spectrum, Qt.Key.Key_A)
    qtbot.waitUntil(lambda: np.log10(6.0) < x_view(spectrum)[1] < np.log10(50.0))

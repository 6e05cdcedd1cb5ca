"""The window at a small size, measured by its real geometry under Xvfb:
800×500 works with a useful pattern field, Stats and Spectrum do not grow
it, and no text (a long message, a long data box title) widens it; what is
cut is cut after a word and shown whole on hover."""

import math

import pytest

from tarvinel.stelvane import qt_compat

QtCore = qt_compat.QtCore
Qt = QtCore.Qt


@pytest.fixture
def small_window(qtbot, started):
    """A window fed a few rows, shown at 800×500 and active (for its keys)."""
    win, queue = started
    queue.put(("PN", ["time", "temperature_outside", "humidity_relative"]))
    for i in range(50):
        queue.put(("PD", [float(i), math.sin(i) if i != 7 else math.nan, 2.0 * i]))
    win.resize(800, 500)
    win.activateWindow()
    qtbot.waitActive(win)
    qtbot.waitUntil(lambda: len(win.point_dataset) == 50)
    qtbot.waitUntil(lambda: win.size() == QtCore.QSize(800, 500))
    yield win
    win.close()
    queue.close()


def test_800_by_500_keeps_a_useful_pattern_field_and_stats_and_spectrum_do_not_grow_it(
        qtbot, small_window):
    win = small_window
    field = win.modes["P"].controls.pattern_field
    assert win.minimumSizeHint().width() <= 800 and win.minimumSizeHint().height() <= 500
    assert field.width() >= 150 and field.isVisible()
    for key in (Qt.Key.Key_S, Qt.Key.Key_P):  # Stats, then Spectrum, by their keys
        qtbot.keyClick(win.live_plot, key)
    qtbot.waitUntil(lambda: win.stats_table.isVisible() and win.spectrum.plot.isVisible())
    qtbot.wait(200)  # layouts settle, frames come
    assert win.size() == QtCore.QSize(800, 500)
    assert win.stats_table.height() > 0 and win.spectrum.plot.height() > 50
    assert field.width() >= 150
    # Every view button is on screen, inside the window.
    for button in win.controls.buttons.values():
        corner = button.mapTo(win, button.rect().bottomRight())
        assert button.isVisible() and win.rect().contains(corner)


def test_a_long_message_is_cut_after_a_word_and_shown_whole_on_hover(qtbot, small_window):
    win = small_window
    message = ("the source said something rather long about its connection, its settings "
               "and what it will try next, which no status bar of 800 pixels holds: " * 3)
    win.inform(message)
    qtbot.wait(100)
    area = win.status_bar.message_area
    shown = area.text_shown()
    assert win.size() == QtCore.QSize(800, 500)
    assert shown.endswith("…") and message.startswith(shown[:-1])
    assert message[len(shown) - 1] in " ,:"  # the cut falls after a whole word
    assert area.toolTip() == message and win.status_bar.currentMessage() == message
    # The data box's title says the NaN; what does not fit is in its tool tip.
    box = win.point_data_box
    qtbot.waitUntil(lambda: "1 not drawn (NaN or inf)" in box.full_title)
    assert box.fontMetrics().horizontalAdvance(super(type(box), box).title()) <= box.width()
    if super(type(box), box).title() != box.full_title:
        assert box.toolTip() == box.full_title

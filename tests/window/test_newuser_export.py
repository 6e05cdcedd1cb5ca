"""Ctrl+S as a new user saves a plot: the picture has the legend, so its
colours can be matched to the columns (checked in the PNG's pixels)."""


import numpy as np
import pytest

from tarvinel.stelvane import config, qt_compat
from tarvinel.stelvane.widgets.legend import BORDER
from tarvinel.stelvane.window import savekeys

QtCore, QtGui = qt_compat.QtCore, qt_compat.QtGui
Qt = QtCore.Qt


@pytest.fixture
def fed(qtbot, started):
    """A window with two curves, whose save dialog answers win.answer."""
    win, queue = started
    queue.put(("PN", ["t", "up", "down"]))
    queue.put(("PXY", "t,up;t,down"))
    t = np.arange(200.0)
    queue.put(("PD", np.column_stack([t, t, -t])))
    win.export_keys.ask_path = lambda caption, suggested, filters: win.answer
    win.activateWindow()
    qtbot.waitActive(win)
    qtbot.waitUntil(lambda: win.presenter.legends[0].entries == [
        ("up", win.live_plot.colors[0]), ("down", win.live_plot.colors[1])])
    yield win
    win.close()
    queue.close()


def pixels(path):
    """The PNG's pixels as rows of (r, g, b)."""
    image = QtGui.QImage(str(path)).convertToFormat(QtGui.QImage.Format.Format_RGB32)
    width, height = image.width(), image.height()
    bits = image.constBits()
    if hasattr(bits, "setsize"):  # PyQt: a pointer that says its size only when told
        bits.setsize(image.sizeInBytes())
    words = np.frombuffer(bytes(bits)[:4 * width * height], np.uint32)
    words = words.reshape(height, width)
    return np.stack([(words >> 16) & 255, (words >> 8) & 255, words & 255], axis=-1)


def near(rgb, colour: str, tolerance=30):
    wanted = np.array(QtGui.QColor(colour).getRgb()[:3])
    return np.abs(rgb.astype(int) - wanted).sum(axis=-1) <= tolerance


def save_png(qtbot, win, path):
    win.answer = (str(path), savekeys.PICTURE_FILTERS[0])
    qtbot.mouseMove(win.live_plot)
    win.live_plot.setFocus()
    qtbot.keyClick(win.live_plot, Qt.Key.Key_S, Qt.KeyboardModifier.ControlModifier)
    qtbot.waitUntil(path.exists, timeout=5000)
    return pixels(path)


def test_ctrl_s_saves_the_legend_with_the_curves_colours_inside_it(qtbot, fed, tmp_path):
    image = save_png(qtbot, fed, tmp_path / "live.png")
    border = np.argwhere(near(image, BORDER.name(), 6))
    assert len(border) > 40, "no legend box in the picture"
    (top, left), (bottom, right) = border.min(axis=0), border.max(axis=0)
    inside = image[top + 1:bottom, left + 1:right]
    for colour in config.defualt_colors[:2]:  # each curve's stroke, in the box
        assert near(inside, colour).sum() >= 10
    # The legend hidden (L): the picture has no box.
    qtbot.keyClick(fed.live_plot, Qt.Key.Key_L)
    image = save_png(qtbot, fed, tmp_path / "bare.png")
    assert near(image, BORDER.name(), 6).sum() < 40

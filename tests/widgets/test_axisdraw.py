"""The plots' axes drawn straight onto the painter: the same ticks, grid
lines and tick texts as pyqtgraph's own drawing, pixel for pixel, at every
kind, side and range, and kept up to date as the view moves."""
import numpy as np
import pyqtgraph as pg
import pytest

from tarvinel.stelvane.widgets import axes, axisdraw, axisticks, views
from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME

QtGui = qt_compat.QtGui
WORDS = ("idle", "heating", "holding", "cooling down slowly", "fault")
RANGES = {NUMBER: [(-1.3, 2.7), (1e6, 1e6 + 0.004), (0, 1e-9)],
          TIME: [(1.7e9, 1.7e9 + 90), (1.7e9, 1.7e9 + 40 * 86400)],
          TEXT: [(-0.5, 4.5), (0, 60)]}


@pytest.fixture
def plot(qtbot):
    widget = views.PlotView("live")
    qtbot.addWidget(widget)
    widget.resize(700, 360)
    with qtbot.waitExposed(widget):
        widget.show()
    x = np.linspace(0, 10, 300)
    widget.set_data(0, x, np.sin(x))
    return widget


def pyqtgraph_specs(axis):
    """What pyqtgraph's own AxisItem.generateDrawSpecs makes of the axis."""
    picture = QtGui.QPicture()
    painter = QtGui.QPainter(picture)
    try:
        if axis.style["tickFont"]:
            painter.setFont(axis.style["tickFont"])
        return pg.AxisItem.generateDrawSpecs(axis, painter)
    finally:
        painter.end()


def comparable(specs):
    axis_spec, ticks, texts = specs
    point = lambda p: (round(p.x(), 9), round(p.y(), 9))  # noqa: E731
    return ((axis_spec[0].color().name(), point(axis_spec[1]), point(axis_spec[2])),
            [(pen.color().name(QtGui.QColor.NameFormat.HexArgb), point(a), point(b)) for pen, a, b in ticks],
            [(rect.getRect(), int(getattr(flags, "value", flags)), text) for rect, flags, text in texts])


def image(plot, qtbot):
    for side in ("bottom", "left"):
        plot.plotItem.getAxis(side).picture = None
    plot.viewport().repaint()
    return plot.grab().toImage()


@pytest.mark.parametrize("grid", [True, False])
@pytest.mark.parametrize("kind", [NUMBER, TIME, TEXT])
@pytest.mark.parametrize("side", ["bottom", "left"])
def test_ticks_and_texts_are_those_pyqtgraph_makes(plot, qtbot, kind, side, grid):
    axis = axes.set_axis_kind(plot, side, kind, WORDS)
    plot.showGrid(x=grid, y=grid)
    qtbot.waitUntil(lambda: axis.geometry().width() > 0)  # laid out
    compared = []
    for low, high in RANGES[kind]:
        axis.setRange(low, high)
        axis.measured_specs()
        qtbot.wait(20)  # the axis takes the room its texts asked for
        ours = comparable(axis.measured_specs()[0])
        assert ours == comparable(pyqtgraph_specs(axis))
        compared += ours[2]
    assert compared  # there were texts to compare


@pytest.mark.parametrize("kind", [NUMBER, TIME, TEXT])
def test_the_picture_is_pyqtgraph_s_pixel_for_pixel_as_the_view_moves(plot, qtbot, monkeypatch, kind):
    axis = axes.set_axis_kind(plot, "left", kind, WORDS)
    qtbot.waitUntil(lambda: axis.geometry().width() > 0)
    shown = []
    for x_range in ((0, 10), (3.3, 4.1), (-200, 5000)):
        plot.plotItem.vb.setXRange(*x_range, padding=0)
        plot.plotItem.vb.setYRange(*RANGES[kind][0], padding=0)
        ours = image(plot, qtbot)
        with monkeypatch.context() as m:
            m.setattr(axisdraw.DirectAxis, "paint", pg.AxisItem.paint)
            m.setattr(axisdraw.DirectAxis, "generateDrawSpecs", pg.AxisItem.generateDrawSpecs)
            theirs = image(plot, qtbot)
        assert ours == theirs
        shown.append(ours)
    assert shown[0] != shown[1] != shown[2]  # the axes followed the view


def rendered(plot, image_format, shift):
    """The plot drawn into a new image of `image_format`, moved by `shift` (x, y)."""
    for side in ("bottom", "left"):
        plot.plotItem.getAxis(side).picture = None
    target = QtGui.QImage(plot.size(), image_format)
    target.fill(QtGui.QColor("white"))
    painter = QtGui.QPainter(target)
    try:
        painter.translate(*shift)
        plot.render(painter)
    finally:
        painter.end()
    return target


@pytest.mark.parametrize("shift", [(0, 0), (0.4, 0.7), (-0.6, -1.25)])
def test_grid_rows_filled_as_rectangles_are_the_lines_pixel_for_pixel_on_32_bit_pixels(plot, qtbot,
                                                                                monkeypatch, shift):
    formats = (QtGui.QImage.Format.Format_RGB32, QtGui.QImage.Format.Format_ARGB32_Premultiplied)
    filled = []
    monkeypatch.setattr(axisdraw.PixelRows, "rects", lambda self, at, rects=axisdraw.PixelRows.rects:
                        filled.append(at) or rects(self, at))
    for kind in (NUMBER, TEXT):
        axes.set_axis_kind(plot, "left", kind, WORDS)
        plot.plotItem.vb.setYRange(*RANGES[kind][0], padding=0)
        qtbot.wait(20)
        for image_format in formats:
            ours = rendered(plot, image_format, shift)
            with monkeypatch.context() as m:
                m.setattr(axisdraw, "device_shift", lambda painter: None)  # lines, as pyqtgraph
                stroked = rendered(plot, image_format, shift)
            assert ours == stroked
    assert filled  # the rows were filled, not stroked


def test_a_plot_s_number_axes_are_drawn_directly_and_keep_the_grid(plot):
    for side in ("bottom", "left"):
        axis = plot.plotItem.getAxis(side)
        assert isinstance(axis, axisdraw.DirectAxis) and axis.grid is not False
    back = axes.set_axis_kind(plot, "bottom", NUMBER)
    assert axes.axis_kind(back) == NUMBER
    assert isinstance(axes.set_axis_kind(plot, "bottom", TIME), axisdraw.DirectAxis)
    assert isinstance(axes.set_axis_kind(plot, "bottom", NUMBER), axisdraw.DirectAxis)


def test_a_shown_label_follows_the_unit_prefix_of_the_range(plot):
    axis = plot.plotItem.getAxis("left")
    axis.setLabel("level", units="V")
    axis.setRange(0, 0.002)
    assert "(mV)" in axis.label.toHtml()
    axis.setRange(0, 2000)
    assert "(kV)" in axis.label.toHtml()


def unkept_ticks(axis, monkeypatch, low, high, length):
    """The axis' ticks and their texts as made without anything kept."""
    with monkeypatch.context() as m:
        m.setattr(axisdraw.DirectAxis, "tickValues", pg.AxisItem.tickValues)
        m.setattr(axisdraw.DirectAxis, "tickStrings", pg.AxisItem.tickStrings)
        return ticks_and_texts(axis, low, high, length)


def ticks_and_texts(axis, low, high, length):
    levels = axis.tickValues(low, high, length)
    return levels, [axis.tickStrings(values, 1.0, spacing) for spacing, values in levels]


@pytest.mark.parametrize("log", [False, True])
@pytest.mark.parametrize("kind", [NUMBER, TEXT])
def test_a_scrolling_axis_ticks_and_writes_as_without_kept_ticks(plot, qtbot, monkeypatch, kind, log):
    # Steps small against the tick spacing (ticks kept) and across ticks,
    # spacings and signs; ticks changed by a caller are not kept.
    axis = axes.set_axis_kind(plot, "bottom", kind, WORDS)
    axis.setLogMode(log, False)
    qtbot.waitUntil(lambda: axis.geometry().width() > 0)
    length = axis.geometry().width()
    for low in [-3.0 + 0.07 * i for i in range(90)]:
        for high in (low + 40.0, low + 0.5):
            ours = ticks_and_texts(axis, low, high, length)
            assert ours == unkept_ticks(axis, monkeypatch, low, high, length)
            for (_, values), texts in zip(*ours):  # a caller's changes to the answers
                values.append(1e9)
                texts.append("changed")
    axis.setRange(-3.0, 37.0)
    assert comparable(axis.measured_specs()[0]) == comparable(pyqtgraph_specs(axis))


@pytest.mark.parametrize("scale", [1.0, 1e-3, -2.5])
def test_ticks_are_made_as_pyqtgraph_makes_them_over_any_range(plot, scale):
    axis = plot.plotItem.getAxis("bottom")
    axis.setScale(scale)
    rng = np.random.default_rng(5)
    ranges = [(-1.3, 2.7), (1e6, 1e6 + 0.004), (0, 1e-9), (-5e8, 7e8), (3.0, -3.0), (0.1, 0.1000001)]
    ranges += [tuple(rng.uniform(-1e4, 1e4) + np.sort(rng.uniform(0, 10.0 ** rng.integers(-6, 6), 2)))
               for _ in range(300)]
    for low, high in ranges:
        for size in (80.0, 903.6, 2400.0):
            assert axisticks.tick_values(axis, low, high, size) == \
                pg.AxisItem.tickValues(axis, low, high, size)


def test_the_hidden_top_and_right_axes_stay_hidden_and_draw_directly_when_shown(plot, qtbot):
    item = plot.plotItem
    for side in ("top", "right"):
        axis = item.getAxis(side)
        assert isinstance(axis, axisdraw.DirectAxis) and not axis.isVisible()
    item.showAxis("right")
    right = item.getAxis("right")
    qtbot.waitUntil(lambda: right.geometry().width() > 0)
    assert comparable(right.measured_specs()[0]) == comparable(pyqtgraph_specs(right))

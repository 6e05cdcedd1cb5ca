"""A curve's line painted by Qt: whole where its rows are thinned to a
fraction of a pixel apart, broken where its data are, new with new data."""
import numpy as np
import pyqtgraph as pg
import pytest

from tarvinel.stelvane.widgets import curvedraw, views
from tarvinel.stelvane import qt_compat

QtCore, QtGui = qt_compat.QtCore, qt_compat.QtGui


@pytest.fixture
def plot(qtbot):
    widget = views.PlotView("live")
    qtbot.addWidget(widget)
    widget.resize(900, 360)
    widget.plotItem.showGrid(False, False)  # its lines would tint the curve's pixels
    with qtbot.waitExposed(widget):
        widget.show()
    return widget


def thinned(frequency: float):
    """What a thinned sine looks like: the rows of each bin's lowest and
    highest value, alternately 0.5 and 2.5 ms apart."""
    x = 1.0 + np.concatenate([[0.0], np.cumsum(np.tile([0.0025, 0.0005], 900))])
    return x, np.sin(2 * np.pi * frequency * x)


def curve_pixels(plot) -> np.ndarray:
    """Where the painted plot shows curve 0's colour."""
    plot.viewport().repaint()
    image = plot.viewport().grab().toImage().convertToFormat(QtGui.QImage.Format.Format_RGB32)
    pixels = pg.functions.ndarray_from_qimage(image).astype(int)
    pen = plot.plots[0].curve.opts["pen"].color()
    return np.abs(pixels[..., :3] - [pen.blue(), pen.green(), pen.red()]).sum(axis=2) < 60


def touching(line: np.ndarray, first: int = 0, last: int | None = None) -> np.ndarray:
    """Per pixel column from `first` to `last`: whether the line's pixels
    there touch those of the next column."""
    columns = [np.nonzero(line[:, c])[0] for c in range(line.shape[1])[first:last]]
    return np.array([len(here) > 0 and len(there) > 0 and here.min() <= there.max() + 1
                     and there.min() <= here.max() + 1 for here, there in zip(columns, columns[1:])],
                    dtype=bool)


def columns_of_line(plot, x) -> np.ndarray:
    """touching() over the columns between the plot's first and last x."""
    line = curve_pixels(plot)  # the paint fits the view first
    vb = plot.plotItem.vb
    first, last = (int(round(vb.mapViewToDevice(QtCore.QPointF(float(v), 0.0)).x()))
                   for v in (x[0], x[-1]))
    return touching(line, first + 2, last - 1)


def painted_alone(curve_class, x, y, width=900, height=360) -> np.ndarray:
    """Curve pixels of a curve item painted onto an image with a thin pen,
    x spanning the width (where pyqtgraph's own path of such a sine drops
    a few pixels' length of line)."""
    curve = curve_class(pen=pg.mkPen("b", width=1))
    curve.setData(x, y)
    image = QtGui.QImage(width, height, QtGui.QImage.Format.Format_RGB32)
    image.fill(QtGui.QColor("white"))
    painter = QtGui.QPainter(image)
    scale = width / (x[-1] - x[0])
    painter.setTransform(QtGui.QTransform(scale, 0, 0, -(height / 2 - 10), -x[0] * scale, height / 2))
    curve.paint(painter, None, None)
    painter.end()
    pixels = pg.functions.ndarray_from_qimage(image).astype(int)
    return (pixels[..., 0] > 200) & (pixels[..., 2] < 100)


def test_a_thinned_line_is_painted_whole(qtbot):
    broken = {frequency: int(np.sum(~touching(painted_alone(curvedraw.PolylineCurve,
                                                            *thinned(frequency)), 1, -1)))
              for frequency in (0.3, 0.5, 0.7, 1.0, 1.3)}
    assert broken == dict.fromkeys(broken, 0)


def test_a_gap_in_the_data_stays_a_gap_and_new_data_is_drawn_anew(plot, qtbot):
    x, y = thinned(0.5)
    gap = y.copy()
    gap[800:1000] = np.nan
    item = plot.plots[0]
    stacked = item.childItems()
    assert stacked.index(item.curve) < stacked.index(item.scatter)  # symbols over the line
    plot.set_data(0, x, gap)
    touching = columns_of_line(plot, x)
    vb = plot.plotItem.vb
    first = vb.mapViewToDevice(QtCore.QPointF(float(x[0]), 0.0)).x()
    left, right = (int(vb.mapViewToDevice(QtCore.QPointF(float(x[i]), 0.0)).x() - first)
                   for i in (805, 995))
    assert not touching[left:right - 4].any()  # nothing drawn over the missing rows
    assert touching[:left - 4].all() and touching[right + 2:].all()

    plot.set_data(0, x, y)  # the same rows, all finite again: one line
    assert columns_of_line(plot, x).all()
    plot.set_data(0, x, -y)  # new values of the same length are drawn, not the kept line
    line = curve_pixels(plot)
    for row in (450, 1350):
        point = vb.mapViewToDevice(QtCore.QPointF(float(x[row]), float(-y[row])))
        column, row = int(round(point.x())), int(round(point.y()))
        assert line[row - 1:row + 2, column - 1:column + 2].any()

"""A plot as a picture: PNG or SVG, made by pyqtgraph's exporters, with the
column names on the axes, written whole or not at all (see atomic.py).
"""

from contextlib import contextmanager

from ..formats.atomic import ExportError, plot_format, write_atomically
from ..qt_compat import QtCore, QtWidgets
from .legend import LegendLabel

def plot_bytes(plot, fmt: str) -> bytes:
    """The plot (title, axes, curves and what else its plot item holds) as a
    PNG or SVG file's bytes, made by pyqtgraph's exporters. The names of the
    columns on the axes, which the window shows in labels over the plot (no
    part of the scene), are put on the axes for the picture."""
    from pyqtgraph import exporters  # loads pyqtgraph's exporters on the first save only

    with legend_drawn(plot), axis_names_shown(plot):
        if fmt == "SVG":
            with closed_paths_readable():
                return exporters.SVGExporter(plot.plotItem).export(toBytes=True)
        image = exporters.ImageExporter(plot.plotItem).export(toBytes=True)
    data = QtCore.QByteArray()
    buffer = QtCore.QBuffer(data)
    buffer.open(QtCore.QIODevice.OpenModeFlag.WriteOnly)
    if not image.save(buffer, "PNG"):
        raise ExportError("could not make the PNG image of the plot")
    buffer.close()
    return bytes(data)


@contextmanager
def closed_paths_readable():
    """pyqtgraph's SVG exporter reads back the paths Qt's SVG generator wrote,
    expecting "x,y" after every command; Qt 6 closes a path with a bare "Z"
    (the view's frame, the clip paths pyqtgraph makes itself), which that
    reading cannot take. While this holds, each "Z" is written as the line
    back to the start of its subpath, the same outline."""
    import importlib

    module = importlib.import_module("pyqtgraph.exporters.SVGExporter")
    original = module.correctCoordinates

    def correct_coordinates(node, defs, item, options):
        for element in node.getElementsByTagName("path"):
            element.setAttribute("d", _closed_as_lines(element.getAttribute("d")))
        return original(node, defs, item, options)

    module.correctCoordinates = correct_coordinates
    try:
        yield
    finally:
        module.correctCoordinates = original


def _closed_as_lines(path: str) -> str:
    tokens, start = [], None
    for token in path.split():
        closes = token[-1] in "Zz"
        token = token[:-1] if closes else token
        if token:
            if token[0] == "M":
                start = token[1:]
            tokens.append(token)
        if closes and start is not None:
            tokens.append("L" + start)
    return " ".join(tokens)


@contextmanager
def axis_names_shown(plot):
    item = plot.plotItem
    names = {"bottom": str(getattr(plot, "xname", "") or ""), "left": str(getattr(plot, "yname", "") or "")}
    shown = [side for side, name in names.items() if name and not item.getAxis(side).label.isVisible()]
    for side in shown:
        item.setLabel(side, names[side])
    item.layout.activate()
    try:
        yield
    finally:
        for side in shown:
            item.showLabel(side, False)
        item.layout.activate()


@contextmanager
def legend_drawn(plot):
    """The legend, a label laid over the plot widget and so no part of what
    the exporters draw, as a picture in the plot's view while this holds:
    where it is on screen, kept inside the view (the axis names may have
    made the view smaller)."""
    view = plot.plotItem.vb
    items = []
    for label in plot.findChildren(LegendLabel):
        picture = label.pixmap()
        if not label.isVisible() or picture is None or picture.isNull():
            continue
        item = QtWidgets.QGraphicsPixmapItem(picture)
        item.setParentItem(view)
        item.setZValue(1000)  # over the curves
        spot = view.mapFromScene(plot.mapToScene(label.pos()))
        room = view.boundingRect()
        item.setPos(max(0.0, min(spot.x(), room.width() - label.width())),
                    max(0.0, min(spot.y(), room.height() - label.height())))
        items.append(item)
    try:
        yield
    finally:
        for item in items:
            item.setParentItem(None)
            if item.scene() is not None:
                item.scene().removeItem(item)


def save_plot(plot, path: str) -> str:
    """Writes the plot to `path` as PNG or SVG (by the suffix); returns the format."""
    fmt = plot_format(path)
    write_atomically(path, [plot_bytes(plot, fmt)])
    return fmt

"""What the measuring cursors draw on one plot: a labelled vertical line per
cursor set, and a box in the view's lower left corner with each curve's
readings (model/cursors.py) in its colour. A middle click on the box copies
its readings as text, as the plot's own middle-button copies go.
"""

import html
import math

import pyqtgraph as pg

from .. import ploter
from ..model.cursors import COLUMNS, NAMES
from ..qt_compat import QtCore, QtWidgets

LINE_COLOURS = {"A": "#c2185b", "B": "#00796b"}
TEXT_COLOUR = "#33404d"
MIDDLE_BUTTON = QtCore.Qt.MouseButton.MiddleButton
# Room kept between the box and the view's edges, in pixels.
MARGIN = 6


class ReadingsBox(QtWidgets.QLabel):
    """The box of readings; `text_for_copy` is what a middle click copies,
    `on_copied(shown, text)` is told of each copy."""

    def __init__(self, parent):
        super().__init__(parent)
        self.setTextFormat(QtCore.Qt.TextFormat.RichText)
        self.setObjectName("cursor readings")
        self.setStyleSheet("QLabel { background: rgba(255, 255, 255, 230); "
                           "border: 1px solid #9aa5b1; padding: 3px; }")
        self.text_for_copy = ""
        self.on_copied = None
        self.hide()

    def mouseReleaseEvent(self, event) -> None:
        if event.button() != MIDDLE_BUTTON:
            super().mouseReleaseEvent(event)
            return
        event.accept()
        if ploter.hasCliper and self.text_for_copy:
            ploter.pc.copy(self.text_for_copy)
            if self.on_copied is not None:
                lines = self.text_for_copy.count("\n") - 1
                self.on_copied(f"the cursors' readings ({lines} curve(s))", self.text_for_copy)

    def mousePressEvent(self, event) -> None:
        event.accept()  # the plot under the box does not start a copy or a drag of its own


class CursorMarks:
    """The cursors' lines on `plot` (a views.PlotView) and its box."""

    def __init__(self, plot):
        self.plot = plot
        # Made at the first placing: a label on a line is placed anew at every
        # change of the view, even while the line is hidden.
        self.lines = {}
        self.box = ReadingsBox(plot)

    def _line(self, name: str):
        line = self.lines.get(name)
        if line is None:
            pen = pg.mkPen(LINE_COLOURS[name], width=1.5)
            line = self.lines[name] = pg.InfiniteLine(
                angle=90, movable=False, pen=pen, label=name,
                labelOpts={"position": 0.96, "color": LINE_COLOURS[name],
                           "fill": pg.mkBrush(255, 255, 255, 200)})
            line.setZValue(850)
            self.plot.plotItem.vb.addItem(line, ignoreBounds=True)  # fitting the view ignores it
        return line

    def show(self, positions: dict, rows: list, copy_text: str) -> None:
        """Puts the lines at `positions` (name -> x in X's units, None: not
        set) and fills the box with `rows` (colour, texts; the first row the
        cursors' own, the second the headings)."""
        log_x = bool(self.plot.plotItem.getAxis("bottom").logMode)
        for name in NAMES:
            at = positions.get(name)
            view_x = None if at is None else (math.log10(at) if log_x and at > 0 else
                                              None if log_x else at)
            if view_x is not None:
                line = self._line(name)
                line.setPos(view_x)
                line.show()
            elif name in self.lines:
                self.lines[name].hide()
        self.box.text_for_copy = copy_text
        if not rows:
            self.box.hide()
            return
        self.box.setText(table_html(rows))
        self.box.adjustSize()
        self.place_box()
        self.box.show()
        self.box.raise_()

    def place_box(self) -> None:
        """In the view's lower left corner."""
        view = self.plot.mapFromScene(self.plot.plotItem.vb.sceneBoundingRect()).boundingRect()
        self.box.move(view.left() + MARGIN, max(0, view.bottom() - self.box.height() - MARGIN))

    def readings(self) -> list[list[str]]:
        """The box's texts, row by row (as a user reads them)."""
        return [line.split("\t") for line in self.box.text_for_copy.splitlines()]


def table_html(rows) -> str:
    """`rows` of (colour, texts) as a small table; the heading row's cells in bold."""
    lines = []
    for number, (colour, texts) in enumerate(rows):
        cells = "".join(f"<td style='padding: 0 6px 0 0; color:{colour}'>"
                        f"{'<b>' if number == 1 else ''}{html.escape(text)}"
                        f"{'</b>' if number == 1 else ''}</td>" for text in texts)
        lines.append(f"<tr>{cells}</tr>")
    return f"<table cellspacing='0'>{''.join(lines)}</table>"


def heading_row(texts) -> tuple[str, list[str]]:
    return TEXT_COLOUR, list(texts)


__all__ = ["COLUMNS", "CursorMarks", "ReadingsBox", "heading_row", "table_html"]

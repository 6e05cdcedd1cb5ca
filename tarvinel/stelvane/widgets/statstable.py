"""The statistics table: one line per curve of the plots whose axes show the
selection (live and history), with the count, lowest, highest, mean,
standard deviation and last value of the rows each plot shows, in the
curve's colour.

The table is brought up to date a few times a second while it is shown,
from the lines the presenters' StatsKeeper makes; the tracker asks the same
keeper for the curve under the pointer.
"""

import html

from ..model.statistics import FIGURES
from ..qt_compat import AlignRight, QtCore, QtGui, QtWidgets

HEADERS = ("plot", "curve", *FIGURES)
# Lines the table shows before it scrolls: the curves of one plot.
SHOWN_ROWS = 8


class StatsTable(QtWidgets.QTableWidget):
    """The table; `refresh()` fills it while it is shown from `lines()`:
    (colour, texts) of each line, the texts under HEADERS."""

    def __init__(self, lines, parent=None):
        super().__init__(0, len(HEADERS), parent)
        self.lines = lines
        self.row_colours: list[str] = []  # the colour each row's texts are in
        self.setObjectName("statistics")
        self.setHorizontalHeaderLabels(list(HEADERS))
        self.verticalHeader().setVisible(False)
        self.setEditTriggers(QtWidgets.QAbstractItemView.EditTrigger.NoEditTriggers)
        self.setFocusPolicy(QtCore.Qt.FocusPolicy.NoFocus)  # the keys stay with the plots
        # The columns are fitted to their texts once per refresh: a header
        # that fits them itself measures every cell at every change of one.
        self.horizontalHeader().setSectionResizeMode(QtWidgets.QHeaderView.ResizeMode.Interactive)
        rows = self.verticalHeader()
        rows.setSectionResizeMode(QtWidgets.QHeaderView.ResizeMode.Fixed)
        rows.setDefaultSectionSize(self.fontMetrics().height() + 6)
        self._fit_height(0)
        self.hide()

    def _fit_height(self, rows: int) -> None:
        """As high as its lines, SHOWN_ROWS of them at most (then it scrolls),
        and down to one line where the window has no more room: showing
        the table never makes the window grow."""
        shown = max(1, min(rows, SHOWN_ROWS))
        line = self.verticalHeader().defaultSectionSize()
        frame = self.horizontalHeader().sizeHint().height() + 2 * self.frameWidth()
        self.setMinimumHeight(frame + line)
        self.setMaximumHeight(frame + shown * line)
        self.updateGeometry()

    def sizeHint(self) -> QtCore.QSize:
        return QtCore.QSize(super().sizeHint().width(), self.maximumHeight())

    def set_shown(self, shown: bool) -> None:
        self.setVisible(shown)
        self.refresh()

    def refresh(self) -> None:
        if not self.isVisible():
            return
        lines = self.lines()
        if len(lines) != self.rowCount():
            self.setRowCount(len(lines))
            self._fit_height(len(lines))
            self.row_colours = []  # new rows' items are new: colour them all
        longer = False
        for row, (_, cells) in enumerate(lines):
            for column, text in enumerate(cells):
                longer |= self._set_cell(row, column, text)
        if longer:
            self.resizeColumnsToContents()
        self._colour([colour for colour, _ in lines])

    def _colour(self, colours: list[str]) -> None:
        """Puts each row's texts in its colour, where that changed."""
        for row, colour in enumerate(colours):
            if row >= len(self.row_colours) or self.row_colours[row] != colour:
                brush = QtGui.QBrush(QtGui.QColor(colour))
                for column in range(self.columnCount()):
                    self.item(row, column).setForeground(brush)
        self.row_colours = colours

    def rows(self) -> list[list[str]]:
        """The texts of the table, row by row."""
        return [[self.item(r, c).text() for c in range(self.columnCount())]
                for r in range(self.rowCount())]

    def _set_cell(self, row: int, column: int, text: str) -> bool:
        """Puts `text` into a cell; true when it is longer than the one before."""
        item = self.item(row, column)
        longer = item is None or len(text) > len(item.text())
        if item is None:
            item = QtWidgets.QTableWidgetItem(text)
            if column > 1:  # the figures
                item.setTextAlignment(AlignRight)
            self.setItem(row, column, item)
        elif item.text() != text:
            item.setText(text)
        return longer


def tracker_line(name: str, colour: str, line: str) -> str:
    """The tracker box's line of statistics for one curve."""
    return f"<span style='color:{colour}'>{html.escape(name)}: <small>{html.escape(line)}</small></span>"

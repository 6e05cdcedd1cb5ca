"""Text markers: M drops one at the pointer's x on the plot under it (a
small input asks for its text; empty, the x itself), a read file brings its
own (`#@marker` lines, formats/markers.py). Every plot showing that X draws
them as labelled vertical lines, so the pictures saved of it hold them
too; the panel beside the plots lists them, and removes the one chosen.
"""

import math

from ..formats.markers import LONGEST_TEXT, Marker
from ..model.markers import MarkerList
from ..model.series import axis_label
from ..qt_compat import QAction, QtCore, QtGui, QtWidgets

import pyqtgraph as pg  # noqa: E402  (after qt_compat, which chooses the binding)

MARKER_COLOUR = "#8a3ffc"
DELETE_KEYS = (QtCore.Qt.Key.Key_Delete, QtCore.Qt.Key.Key_Backspace)


def x_name_of(presenter) -> str | None:
    """The name of the X a plot shows (its X columns in their format), None
    for a plot of other axes (the spectrum's) or while it shows nothing."""
    frame = presenter.frame
    if not presenter.follows_selection or frame is None or not frame.pairs:
        return None
    return axis_label([x for x, _ in frame.pairs], frame.fx)


class MarkerPanel(QtWidgets.QGroupBox):
    """The list of markers, with a button (and Delete) that removes the chosen one."""

    def __init__(self, remove):
        super().__init__("Markers")
        self.list = QtWidgets.QListWidget()
        self.list.installEventFilter(self)
        self.remove_button = QtWidgets.QPushButton("Remove")
        self.remove_button.clicked.connect(self._remove_chosen)
        self._remove = remove
        layout = QtWidgets.QVBoxLayout(self)
        layout.setContentsMargins(4, 4, 4, 4)
        layout.addWidget(self.list)
        layout.addWidget(self.remove_button)
        self.hide()  # until there is a marker

    def show_markers(self, texts: list[str]) -> None:
        self.list.clear()
        self.list.addItems(texts)
        self.setVisible(bool(texts))

    def _remove_chosen(self) -> None:
        row = self.list.currentRow()
        if row >= 0:
            self._remove(row)

    def eventFilter(self, watched, event):
        if event.type() == QtCore.QEvent.Type.KeyPress and event.key() in DELETE_KEYS:
            self._remove_chosen()
            return True
        return False


class MarkerKeeper:
    """The markers of `window` (a MainWindow): the M key, the panel, the
    lines on the plots and the lines of the data files."""

    def __init__(self, window):
        self.window = window
        self.markers = MarkerList()
        self.panel = MarkerPanel(self.remove)
        self.action = QAction("Marker", window)
        self.action.setShortcut(QtGui.QKeySequence("M"))
        self.action.triggered.connect(self.ask_at_pointer)
        window.addAction(self.action)
        self.dialog: QtWidgets.QInputDialog | None = None
        self._drawn: dict = {}  # plot -> (what it was drawn from, its line items)

    def lines(self) -> list[str]:
        """The `#@marker` lines a data file carries."""
        return self.markers.lines()

    def under_pointer(self):
        """(presenter, x) of the plot under the pointer and its x there, or None."""
        for readout, presenter in zip(self.window.readouts, self.window.plot_presenters):
            pos, vb = readout.scene_pos, presenter.plot.plotItem.vb
            if (pos is None or not presenter.plot.isVisible() or x_name_of(presenter) is None
                    or not vb.sceneBoundingRect().contains(pos)):
                continue
            x = vb.mapSceneToView(pos).x()
            return presenter, 10.0 ** x if presenter.plot.plotItem.getAxis("bottom").logMode else x
        return None

    def ask_at_pointer(self) -> None:
        """M: asks for the text of a marker at the pointer's x (not waiting
        for the answer: the plots go on meanwhile)."""
        found = self.under_pointer()
        if found is None:
            self.window.inform("a marker goes at the pointer's x: point at a plot and press M")
            return
        presenter, x = found
        name, place = x_name_of(presenter), presenter.plot.shown_x.text(x)
        dialog = self.dialog = QtWidgets.QInputDialog(self.window)
        dialog.setWindowTitle("Marker")
        dialog.setLabelText(f"A marker at {name} = {place}; its text (empty: {place}):")
        dialog.textValueSelected.connect(
            lambda text: self.add(Marker(name, x, text.strip()[:LONGEST_TEXT] or place)))
        dialog.open()

    def add(self, marker: Marker) -> None:
        if self.markers.add(marker):
            self._changed()

    def remove(self, index: int) -> None:
        self.markers.remove(index)
        self._changed()

    def _changed(self) -> None:
        self.panel.show_markers([f"{m.text}  ({m.x_name} {self._place(m)})"
                                 for m in self.markers.items])
        self.refresh()

    def _place(self, marker: Marker) -> str:
        for presenter in self.window.plot_presenters:
            if x_name_of(presenter) == marker.x_name:
                return presenter.plot.shown_x.text(marker.x)
        return f"{marker.x:g}"

    def refresh(self) -> None:
        """Draws the markers on each plot whose X or markers changed (each frame: cheap)."""
        for presenter in self.window.plot_presenters:
            plot = presenter.plot
            log_x = bool(plot.plotItem.getAxis("bottom").logMode)
            state = (self.markers.version, x_name_of(presenter), log_x)
            drawn = self._drawn.get(plot)
            if drawn is not None and drawn[0] == state:
                continue
            for item in drawn[1] if drawn else ():
                plot.plotItem.vb.removeItem(item)
            markers = self.markers.on(state[1]) if state[1] is not None else []
            self._drawn[plot] = (state, [self._draw(plot, m, log_x) for m in markers
                                         if m.x > 0 or not log_x])

    @staticmethod
    def _draw(plot, marker: Marker, log_x: bool):
        line = pg.InfiniteLine(
            pos=math.log10(marker.x) if log_x else marker.x, angle=90,
            movable=False, pen=pg.mkPen(MARKER_COLOUR, width=1, style=QtCore.Qt.PenStyle.DotLine),
            label=marker.text, labelOpts={"position": 0.92, "color": MARKER_COLOUR,
                                          "fill": pg.mkBrush(255, 255, 255, 200)})
        line.setZValue(800)
        plot.plotItem.vb.addItem(line, ignoreBounds=True)  # F and A fit the data, not the markers
        return line

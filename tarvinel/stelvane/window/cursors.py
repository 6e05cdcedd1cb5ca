"""The window's two measuring cursors: 1 and 2 put A and B at the pointer's
x, Shift+click and Ctrl+click on a plot put them where clicked, Escape
takes both away. They are places on X, drawn on every plot whose X is the
selection's (live and history), and stay there while the data moves and
while paused; each plot's box reads its own curves at them
(model/cursors.py), a few times a second.
"""

import math

from ..model.cursors import (COLUMNS, BlockGrowth, header_texts, measure, reading_dict,
                             reading_texts, readings_text)
from ..qt_compat import QAction, QtCore, QtGui
from ..widgets.cursormarks import CursorMarks, heading_row

LEFT_BUTTON = QtCore.Qt.MouseButton.LeftButton
SHIFT = QtCore.Qt.KeyboardModifier.ShiftModifier
CONTROL = QtCore.Qt.KeyboardModifier.ControlModifier
# Keys: (key, cursor); Escape takes both away.
PLACE_KEYS = (("1", "A"), ("2", "B"))
# Clicks: (modifier, cursor).
PLACE_CLICKS = ((SHIFT, "A"), (CONTROL, "B"))


class Cursors:
    """Cursors A and B of `window` (a MainWindow) on its plots that show the
    selection's X; `on_copied` is told of a box's middle-button copy."""

    def __init__(self, window, plot_presenters, on_copied=None):
        self.window = window
        self.positions = {"A": None, "B": None}  # x in X's units, None: not set
        self.presenters = [p for p in plot_presenters if p.follows_selection]
        self.marks = {}
        self.growth = {p.name: BlockGrowth() for p in self.presenters}
        self._read: dict = {}  # presenter name -> what its box was last made from
        for presenter in self.presenters:
            marks = self.marks[presenter.name] = CursorMarks(presenter.plot)
            marks.box.on_copied = on_copied
            presenter.plot.scene().sigMouseClicked.connect(
                lambda event, plot=presenter.plot: self._clicked(plot, event))
        self.actions = [self._action(key, lambda _=False, name=name: self.place_at_pointer(name))
                        for key, name in PLACE_KEYS]
        self.actions.append(self._action("Escape", lambda _=False: self.clear()))

    def _action(self, key: str, slot) -> QAction:
        action = QAction(self.window)
        action.setShortcut(QtGui.QKeySequence(key))
        action.triggered.connect(slot)
        self.window.addAction(action)
        return action

    def place(self, name: str, x: float) -> None:
        self.positions[name] = float(x)
        self.refresh()

    def clear(self) -> None:
        self.positions = dict.fromkeys(self.positions)
        self.refresh()

    def place_at_pointer(self, name: str) -> bool:
        """Puts cursor `name` at the x under the pointer, if it is over a
        plot's view; false when it is over none."""
        for presenter in self.presenters:
            plot = presenter.plot
            if not plot.isVisible():
                continue
            scene = plot.mapToScene(plot.mapFromGlobal(QtGui.QCursor.pos()))
            if plot.plotItem.vb.sceneBoundingRect().contains(scene):
                self.place(name, data_x(plot, plot.plotItem.vb.mapSceneToView(scene).x()))
                return True
        return False

    def _clicked(self, plot, event) -> None:
        if event.button() != LEFT_BUTTON or not plot.plotItem.vb.sceneBoundingRect().contains(
                event.scenePos()):
            return
        for modifier, name in PLACE_CLICKS:
            if event.modifiers() & modifier:
                event.accept()
                self.place(name, data_x(plot, plot.plotItem.vb.mapSceneToView(event.scenePos()).x()))
                return

    def refresh(self) -> None:
        """Reads each plot's curves at the cursors again where its rows or
        the cursors moved. A plot none of whose curves reaches a cursor
        shows the lines only: its box would say nothing."""
        a, b = self.positions["A"], self.positions["B"]
        for presenter in self.presenters:
            plot = presenter.plot
            state = (a, b, presenter.shown, tuple(presenter.names), plot.shown_x,
                     plot.plotItem.getAxis("bottom").logMode)
            if state == self._read.get(presenter.name) and presenter.shown is not None:
                continue
            self._read[presenter.name] = state
            self._show_readings(presenter, a, b)

    def _show_readings(self, presenter, a, b) -> None:
        marks, plot, x_shown = self.marks[presenter.name], presenter.plot, presenter.plot.shown_x
        readings = ([] if a is None and b is None else
                    measure(presenter.curve_blocks(), a, b, self.growth[presenter.name]))
        if all(r.at_a is None and r.at_b is None for r in readings):
            marks.show(self.positions, [], "")
            return
        delta_x = math.nan if a is None or b is None else b - a
        rows = [heading_row(header_texts(a, b, x_shown)), heading_row(COLUMNS)]
        rows += [(plot.colors[r.key], reading_texts(r, delta_x, x_shown)) for r in readings]
        marks.show(self.positions, rows, readings_text(a, b, readings, x_shown))

    def summary(self) -> dict:
        """For --summary: the cursors' x and the live plot's readings."""
        a, b = self.positions["A"], self.positions["B"]
        if a is None and b is None:
            return {}
        delta_x = math.nan if a is None or b is None else b - a
        readings = measure(self.presenters[0].curve_blocks(), a, b) if self.presenters else []
        return {"a": a, "b": b, "dx": None if math.isnan(delta_x) else delta_x,
                "curves": [reading_dict(r, delta_x) for r in readings]}


def data_x(plot, view_x: float) -> float:
    """A place on the view's X in X's units (a log axis holds log10 of them)."""
    return 10.0 ** view_x if plot.plotItem.getAxis("bottom").logMode else view_x

"""A plot's right-hand Y axis: a second view box over the plot's own, its X
tied to the plot's, its Y its own (range, log scale, label), and the
curves that are moved onto it.

The second view box is a child of the plot item, so the pictures saved of
the plot hold it too. It lies under the plot's own view box, which keeps
the mouse: dragging and the wheel over the data move the left axis (and X);
the wheel or a drag over the right axis moves that axis alone.
"""

import weakref

from ..qt_compat import QtCore  # chooses the binding: before pyqtgraph

import pyqtgraph as pg  # noqa: E402

from .axisdraw import DirectAxis  # noqa: E402


class RightSideAxis(DirectAxis):
    """The right axis draws no grid: the left axis' lines are the plot's
    grid, and a second set at other heights would only stripe it."""

    def setGrid(self, grid):
        super().setGrid(False)


class RightAxis:
    """The right Y axis of one `views.PlotView`; made the first time a
    curve goes on it, hidden while none is there."""

    def __init__(self, plot):
        # Weakly: the plot holds this, and goes away with its last reference.
        self._plot = weakref.ref(plot)
        self.view: pg.ViewBox | None = None
        self.keys: frozenset = frozenset()  # the curves on the right axis
        self.log = False
        self.label = ""

    @property
    def plot(self):
        return self._plot()

    @property
    def shown(self) -> bool:
        return bool(self.keys)

    def _make(self) -> pg.ViewBox:
        item = self.plot.plotItem
        view = pg.ViewBox(enableMenu=False)
        view.setParentItem(item)
        view.setZValue(item.vb.zValue() - 1)  # under the plot's own: it keeps the mouse
        view.setXLink(item.vb)
        item.setAxisItems({"right": RightSideAxis("right")})
        item.getAxis("right").linkToView(view)
        item.vb.sigResized.connect(self._follow_geometry)
        self.view = view
        self._follow_geometry()
        return view

    def _follow_geometry(self) -> None:
        plot = self.plot
        if self.view is not None and plot is not None:
            self.view.setGeometry(plot.plotItem.vb.geometry())
            self.view.linkedViewChanged(plot.plotItem.vb, self.view.XAxis)

    def place(self, keys, label: str, log: bool) -> None:
        """Puts the curves of `keys` on the right axis (the others back on
        the left), labelled `label`, on a log scale with `log`."""
        keys = frozenset(keys)
        if keys and self.view is None:
            self._make()
        item = self.plot.plotItem
        if keys != self.keys:
            log_x, log_y = (bool(item.getAxis(side).logMode) for side in ("bottom", "left"))
            for key, curve in self.plot.plots.items():
                target = self.view if key in keys else item.vb
                if curve.getViewBox() is not target:
                    curve.getViewBox().removeItem(curve)
                    target.addItem(curve)
                    if target is item.vb:  # back on the left: the left axis' scale
                        curve.setLogMode(log_x, log_y)
            self.keys = keys
            item.showAxis("right", bool(keys))
            if keys:
                self.view.enableAutoRange(y=True)
        if keys and label != self.label:
            item.getAxis("right").setLabel(label)
        self.label = label if keys else ""
        self.set_log(log)

    def set_log(self, log: bool) -> None:
        """The right axis' scale; also after the plot set every curve's log
        scale to the left axis' (pyqtgraph's setLogMode reaches them all)."""
        self.log = log
        if self.view is None:
            return
        log_x = bool(self.plot.plotItem.getAxis("bottom").logMode)
        axis = self.plot.plotItem.getAxis("right")
        if axis.logMode != log:
            axis.setLogMode(log_x, log)
        for key in self.keys:
            curve = self.plot.plots[key]
            if curve.opts["logMode"] != [log_x, log]:
                curve.setLogMode(log_x, log)

    def enable_auto_range(self) -> None:
        if self.view is not None:
            self.view.enableAutoRange(y=True)

    def set_y_range(self, low: float, high: float) -> None:
        if self.view is not None:
            self.view.setYRange(low, high)

    def y_range(self) -> tuple[float, float] | None:
        """The right axis' range in view units (log10 on a log scale)."""
        return None if not self.keys else tuple(self.view.viewRange()[1])

    def y_at(self, scene_pos) -> float | None:
        """The right axis' value at a point of the scene (None while unused)."""
        if not self.keys:
            return None
        y = self.view.mapSceneToView(scene_pos).y()
        return 10.0 ** y if self.log else y

    def to_left(self, x: float, y: float) -> QtCore.QPointF:
        """A point in the right view's units as the same place in the left's."""
        scene = self.view.mapViewToScene(QtCore.QPointF(x, y))
        return self.plot.plotItem.vb.mapSceneToView(scene)

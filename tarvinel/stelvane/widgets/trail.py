"""An (X,Y) pair whose X does not grow drawn as a trail: the live window's
rows in LEVELS stretches, the oldest faintest, the newest in the curve's
full colour, and a ring on the newest point.

The curve itself keeps its data (the tracker, the legend and F read it) but
is drawn transparent while it is a trail; the stretches are drawn from its
data as drawn (log10 on a log axis) in the view box it is in (the right
axis' too).
"""

import numpy as np

from .. import qt_compat  # noqa: F401  (chooses the binding: before pyqtgraph)

import pyqtgraph as pg  # noqa: E402

# Stretches of a trail, from the oldest (the faintest) to the newest.
LEVELS = 8
# The least opacity of the oldest stretch, out of 255.
FAINTEST = 24
HEAD_SIZE = 12
CLEAR = pg.mkColor(0, 0, 0, 0)


def level_alphas(levels: int = LEVELS) -> list[int]:
    """The opacity of each stretch, oldest first (0..255)."""
    return [round(FAINTEST + (255 - FAINTEST) * i / max(1, levels - 1)) for i in range(levels)]


def stretches(n: int, levels: int = LEVELS) -> list[slice]:
    """`levels` consecutive stretches of n points (each one point into the
    next, so the trail has no gaps); fewer where there are fewer points."""
    bounds = np.unique(np.linspace(0, n - 1, levels + 1).round().astype(int)) if n > 1 else []
    return [slice(int(a), int(b) + 1) for a, b in zip(bounds[:-1], bounds[1:])]


class Trail:
    """The stretches and the newest point's ring of one curve."""

    def __init__(self, curve):
        self.looks = {name: curve.opts[name] for name in ("pen", "symbolBrush", "symbolPen")}
        self.segments = [pg.PlotCurveItem() for _ in range(LEVELS)]
        self.head = pg.ScatterPlotItem(size=HEAD_SIZE, symbol="o")
        for depth, item in enumerate([*self.segments, self.head]):
            item.setZValue(700 + depth)  # over the curves, under the tracker
        self.view = None

    def items(self):
        return [*self.segments, self.head]


class Trails:
    """The trails of one plot widget (a `views.PlotView`)."""

    def __init__(self, plot):
        self.plot = plot
        self.trails: dict = {}  # curve key -> Trail

    @property
    def keys(self) -> set:
        return set(self.trails)

    def show(self, keys) -> None:
        """Draws the curves of `keys` as trails (from the data they hold
        now), the others as plain curves again."""
        for key in [key for key in self.trails if key not in keys]:
            self._drop(key)
        for key in keys:
            self._draw(key)

    def _draw(self, key) -> None:
        curve = self.plot.plots[key]
        trail = self.trails.get(key)
        if trail is None:
            trail = self.trails[key] = Trail(curve)
            curve.setPen(CLEAR)
            curve.setSymbolBrush(CLEAR)
            curve.setSymbolPen(CLEAR)
        self._put_in(trail, curve.getViewBox())
        x, y = curve.getData()
        x = np.empty(0) if x is None else x
        y = np.empty(0) if y is None else y
        colour = pg.mkColor(self.plot.colors[key])
        width = pg.mkPen(trail.looks["pen"]).widthF() or 1.0
        parts = stretches(len(x))
        for segment, alpha, part in zip(trail.segments, level_alphas(len(parts)), parts):
            faded = pg.mkColor(colour)
            faded.setAlpha(alpha)
            segment.setData(x[part], y[part], pen=pg.mkPen(faded, width=width), connect="finite")
        for segment in trail.segments[len(parts):]:
            segment.setData([], [])
        finite = np.flatnonzero(np.isfinite(x) & np.isfinite(y))
        if len(finite):
            newest = finite[-1]
            trail.head.setData([x[newest]], [y[newest]], brush=pg.mkBrush(colour),
                               pen=pg.mkPen("#ffffff", width=1.5))
        else:
            trail.head.setData([], [])

    def _put_in(self, trail: Trail, view) -> None:
        """The trail's items in `view`, where its curve is."""
        if trail.view is view:
            return
        for item in trail.items():
            if trail.view is not None:
                trail.view.removeItem(item)
            view.addItem(item, ignoreBounds=True)  # the curve gives the bounds
        trail.view = view

    def _drop(self, key) -> None:
        trail = self.trails.pop(key)
        for item in trail.items():
            trail.view.removeItem(item)
        curve = self.plot.plots[key]
        curve.setPen(trail.looks["pen"])
        curve.setSymbolBrush(trail.looks["symbolBrush"])
        curve.setSymbolPen(trail.looks["symbolPen"])

    def newest_point(self, key) -> tuple[float, float] | None:
        """Where the ring of curve `key`'s trail is (in view units), or None."""
        trail = self.trails.get(key)
        if trail is None or not len(trail.head.data):
            return None
        spot = trail.head.data[0]
        return float(spot["x"]), float(spot["y"])


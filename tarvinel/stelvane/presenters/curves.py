"""Series handed to a plot widget's curves: curve k shows series k, with its
symbols only while it is sparse."""

from collections.abc import Sequence

import numpy as np

# A curve shows its symbols up to this many points. Beyond, the symbols would
# merge into a thick line anyway, and drawing them costs far more than the
# line (pyqtgraph builds each symbol in Python).
SYMBOL_POINTS = 1_000

EMPTY = np.empty(0)
# A series that says: the curve keeps what it shows (it has no new rows).
KEEP = object()


class PlotCurves:
    """The curves of one plot widget, given their series each frame: curve k shows series k, curves
    without a series are emptied once (not at every frame) and hidden
    while empty: the view then leaves them out when it fits its range to
    the data, at every frame, instead of asking each for its bounds."""

    def __init__(self, plot, keys: Sequence, symbol_points: int = SYMBOL_POINTS):
        self.plot = plot
        self.keys = list(keys)
        self.symbol_points = symbol_points
        self._filled: set = set()
        # The symbol shape the widget gave each curve, to put back when the
        # curve is sparse again.
        self._symbols = {key: plot.plots[key].opts["symbol"] for key in self.keys}
        for key in self.keys:
            curve = plot.plots[key]
            if curve.xData is None or not len(curve.xData):
                curve.hide()

    def show(self, series: Sequence) -> None:
        for key, data in zip(self.keys, series):
            if data is KEEP:
                continue
            if data is None:
                self._empty(key)
            else:
                # Symbols go off before dense data arrives and come on after
                # sparse data has: they are never built for a dense curve.
                sparse = len(data[1]) <= self.symbol_points
                if not sparse:
                    self._show_symbols(key, False)
                self.plot.set_data(key, data[0], data[1])
                if sparse:
                    self._show_symbols(key, True)
                if key not in self._filled:
                    self.plot.plots[key].show()
                self._filled.add(key)
        for key in self.keys[len(series):]:
            self._empty(key)

    def _show_symbols(self, key, shown: bool) -> None:
        curve = self.plot.plots[key]
        symbol = self._symbols[key] if shown else None
        if curve.opts["symbol"] != symbol:
            curve.setSymbol(symbol)

    def _empty(self, key) -> None:
        if key in self._filled:
            self.plot.set_data(key, EMPTY, EMPTY)
            self.plot.plots[key].hide()
            self._filled.discard(key)

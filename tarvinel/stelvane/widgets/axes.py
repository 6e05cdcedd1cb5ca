"""The axes a plot shows for what its columns hold: numbers (pyqtgraph's own
axis), times (local date and time, DST-aware per tick) and the words of a
text column plotted as levels (a state plot); and the switch between them
on a plot that is already on screen.
"""

import math

from ..qt_compat import QtGui  # chooses the binding: before pyqtgraph

import pyqtgraph as pg  # noqa: E402

from ..protocol import NUMBER, TEXT, TIME  # noqa: E402
from . import timeticks  # noqa: E402
from .axisdraw import DirectAxis, bounded  # noqa: E402

# A word longer than this is cut on the axis (the data box shows it whole).
LONGEST_WORD = 24
# pyqtgraph's ViewBox's own panning limits, given back when a time axis
# (which narrows them to the years 1 to 9999) leaves the plot.
VIEW_LIMITS = (-1e307, 1e307)


class MeasuredAxis(DirectAxis):
    """An axis that measures its tick texts along its own direction, in
    pixels of the font its ticks are drawn in, to choose its ticks."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.fontMetrics = None  # the painter's, from the last paint
        self._extents = {}  # (text, font size) -> pixels

    def generateDrawSpecs(self, p):
        # The painter already holds the tick font (AxisItem.paint sets it).
        self.fontMetrics = p.fontMetrics()
        return super().generateDrawSpecs(p)

    def text_extent(self, text: str) -> float:
        metrics = self.fontMetrics
        if metrics is None:  # not painted yet
            metrics = self.fontMetrics = QtGui.QFontMetrics(self.style["tickFont"] or self.font())
        key = (text, metrics.height(), metrics.averageCharWidth())
        if key not in self._extents:
            rect = metrics.boundingRect(text)
            bounded(self._extents)[key] = (rect.width() if self.orientation in ("bottom", "top")
                                           else rect.height())
        return self._extents[key]


class TimeAxis(pg.DateAxisItem, MeasuredAxis):
    """Seconds since the epoch as local date and time. Every tick is placed
    and written with the offset in force at its own instant (see
    timeticks), as Python's `time` module gives it: the same source as the
    readout's, the tracker's and the export's texts, so the axis and a
    readout never disagree. The base class' `utcOffset` (one offset for the
    whole axis) is not used; the base class gives the view's limits and
    the painter's font metrics. On a log scale it ticks as a number axis."""

    def __init__(self, orientation: str = "bottom", **kwargs):
        super().__init__(orientation, **kwargs)
        self.step = None  # the timeticks.Step of the ticks last placed

    def tickValues(self, minVal, maxVal, size):
        if self.logMode:
            self.step = None
            return pg.AxisItem.tickValues(self, minVal, maxVal, size)
        self.step = timeticks.choose_step(minVal, maxVal, size, self.text_extent)
        return [(self.step.seconds, timeticks.tick_values(minVal, maxVal, self.step))]

    def tickStrings(self, values, scale, spacing):
        if self.step is None:
            return pg.AxisItem.tickStrings(self, values, scale, spacing)
        texts = [timeticks.tick_text(v, self.step) for v in values]
        low, high = self.range
        length = self.width() if self.orientation in ("bottom", "top") else self.height()
        per_second = length / (high - low) if high > low else 0.0
        return timeticks.dated_texts(list(values), texts, self.step, (low, high), per_second,
                                     self.text_extent)


class LevelsAxis(MeasuredAxis):
    """A text column's word codes 0, 1, 2, ... as their words, a tick at
    each; where the words in view do not fit the axis' length, and on a log
    scale, plain numbers (whole ones: codes between levels mean nothing)."""

    def __init__(self, orientation: str = "left", words=(), **kwargs):
        super().__init__(orientation, **kwargs)
        self.words: tuple[str, ...] = ()
        self.showing_words = False
        self.set_words(words)

    def set_words(self, words) -> None:
        """The column's words in code order (the k-th word labels code k)."""
        words = tuple(w if len(w) <= LONGEST_WORD else w[:LONGEST_WORD - 1] + "…" for w in words)
        if words != self.words:
            self.words = words
            self.picture = None  # the ticks are drawn again at the next paint
            self.update()

    def visible_codes(self, low: float, high: float) -> range:
        return range(max(0, math.ceil(low)), min(len(self.words) - 1, math.floor(high)) + 1)

    def words_fit(self, low: float, high: float, length: float) -> bool:
        codes = self.visible_codes(low, high)
        if not codes or high <= low:
            return False
        room = length / (high - low) - timeticks.PADDING  # pixels between two codes
        if room <= 0 or len(codes) * (1 + timeticks.PADDING) > length:  # cannot fit, unmeasured
            return False
        return max(self.text_extent(self.words[k]) for k in codes) <= room

    def tickValues(self, minVal, maxVal, size):
        self.showing_words = not self.logMode and self.words_fit(minVal, maxVal, size)
        if self.showing_words:
            return [(1.0, [float(k) for k in self.visible_codes(minVal, maxVal)])]
        levels = super().tickValues(minVal, maxVal, size)
        return levels if self.logMode else [level for level in levels if level[0] >= 1]

    def tickStrings(self, values, scale, spacing):
        if self.showing_words:
            return [self.words[round(v)] for v in values]
        return super().tickStrings(values, scale, spacing)


AXIS_CLASSES = {NUMBER: DirectAxis, TIME: TimeAxis, TEXT: LevelsAxis}


def axis_kind(axis) -> str:
    """NUMBER, TIME or TEXT: what an axis shows."""
    return TIME if isinstance(axis, TimeAxis) else TEXT if isinstance(axis, LevelsAxis) else NUMBER


def set_axis_kind(plot, side: str, kind: str, words=()):
    """Shows the `side` axis ("bottom", "left", ...) of `plot` (a
    ploter.PlotWidget, or its PlotItem) as numbers, times or the `words` of
    a text column (protocol.NUMBER, TIME, TEXT), and returns the axis.

    A new axis replaces the old one only when the kind changes (new words
    are set on the axis in place); it takes over the old axis' label, pens
    and style, the plot's grid and log scale, and the view's limits are
    given back when a time axis leaves. The view box, and with it the
    plot's range, links, keys and middle-button copy, stays as it is."""
    item = getattr(plot, "plotItem", plot)
    old = item.getAxis(side)
    if axis_kind(old) == kind:
        if kind == TEXT:
            old.set_words(words)
        return old
    new = LevelsAxis(side, words) if kind == TEXT else AXIS_CLASSES[kind](side)
    take_over_looks(old, new)
    item.setAxisItems({side: new})  # links the new axis to the view box
    if isinstance(old, pg.DateAxisItem) and not isinstance(new, pg.DateAxisItem):
        limit = "x" if side in ("bottom", "top") else "y"
        item.vb.setLimits(**{f"{limit}Min": VIEW_LIMITS[0], f"{limit}Max": VIEW_LIMITS[1]})
    new.setLogMode(item.ctrl.logXCheck.isChecked(), item.ctrl.logYCheck.isChecked())
    item.updateGrid()
    # Linking only listens for the view's next change: the first paint must
    # already show the view's range, not the [0, 1] a new axis starts with.
    new.linkedViewChanged(item.vb)
    return new


def take_over_looks(old, new) -> None:
    """What a user or the window set on `old` that `new` should show too."""
    # As stored, not through setStyle, which takes some entries in another form.
    new.style = {name: list(value) if isinstance(value, list) else value
                 for name, value in old.style.items()}
    new.setStyle()  # sizes the axis for that style
    if old._pen is not None:  # a pen set on the axis, not pyqtgraph's default
        new.setPen(old.pen())
    if old._textPen is not None:
        new.setTextPen(old.textPen())
    new.setLabel(old.labelText, old.labelUnits, old.labelUnitPrefix, unitPower=old.unitPower,
                 **old.labelStyle)
    new.showLabel(old.label.isVisible())

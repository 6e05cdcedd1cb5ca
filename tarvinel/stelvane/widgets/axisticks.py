"""Where an axis' ticks, grid lines and tick texts go: the same lines and
texts as pyqtgraph's AxisItem.generateDrawSpecs, made with less work.

A live plot's x axis moves at every frame, so its ticks are made again at
every frame. pyqtgraph makes a point object per tick end, a bounding box of
the whole axis per tick text and numpy reductions over a few numbers; here
the same arithmetic runs over plain floats. The result (axis line, tick
lines with their pens, text rectangles with their flags) is what pyqtgraph
gives for the same axis, which the tests check; the cases this does not
cover (ticks set by hand, an axis line stopped at the outer ticks, hidden
values) are left to pyqtgraph (`draw_specs` returns NotImplemented).
"""

import math

import numpy as np

from ..qt_compat import QtCore, QtGui  # chooses the binding: before pyqtgraph

from pyqtgraph import Point  # noqa: E402
import pyqtgraph.functions as fn  # noqa: E402

Align = QtCore.Qt.AlignmentFlag
QPointF = QtCore.QPointF
DONT_CLIP = QtCore.Qt.TextFlag.TextDontClip
MEASURE_BOX = QtCore.QRectF(0, 0, 100, 100)
# Per orientation: text alignment, and whether the axis runs along y (0) or x (1).
ALIGNMENT = {
    "left": (Align.AlignRight | Align.AlignVCenter | DONT_CLIP, 0),
    "right": (Align.AlignLeft | Align.AlignVCenter | DONT_CLIP, 0),
    "top": (Align.AlignHCenter | Align.AlignBottom | DONT_CLIP, 1),
    "bottom": (Align.AlignHCenter | Align.AlignTop | DONT_CLIP, 1),
}


def draw_specs(axis, p):
    """(axis spec, tick specs, text specs) as AxisItem.generateDrawSpecs
    gives them, None where it gives None, NotImplemented where it alone
    knows the answer."""
    style = axis.style
    if axis._tickLevels is not None or any(style["stopAxisAtTick"]) or not style["showValues"]:
        return NotImplemented
    if style["tickFont"] is not None:
        p.setFont(style["tickFont"])
    bounds = axis.mapRectFromParent(axis.geometry())
    view = axis.linkedView()
    tick_bounds = bounds if view is None or axis.grid is False else \
        view.mapRectToItem(axis, view.boundingRect())
    span, tick_start, tick_stop, tick_dir, along = _span(axis.orientation, bounds, tick_bounds)
    ends = [axis.mapToDevice(point) for point in span]
    if None in ends:
        return None
    length = Point(ends[1] - ends[0]).length()
    if length == 0:
        return None
    levels = axis.tickValues(axis.range[0], axis.range[1], length)
    scale, offset = _mapping(axis.range, bounds, along)
    low, high = sorted(x * scale - offset for x in axis.range)
    positions, tick_specs = _ticks(axis, levels, (scale, offset), (low, high),
                                   (tick_start, tick_stop, tick_dir), length, along)
    axis_spec = (axis.pen(), span[0], span[1])
    text_specs, widest = _texts(axis, p, levels, positions, tick_stop, length, along)
    axis._updateMaxTextSize(widest)
    return axis_spec, tick_specs, text_specs


def _ticks(axis, levels, mapping, limits, tick_places, length: float, along: bool):
    """(the position of each level's values on the axis, None for those
    outside it; the tick line specs)."""
    (scale, offset), (low, high) = mapping, limits
    tick_start, tick_stop, tick_dir = tick_places
    positions, tick_specs = [], []
    for i, (_, values) in enumerate(levels):
        pen = _level_pen(axis, i, len(values), length)
        tick_length = 0 if axis.grid is not False else axis.style["tickLength"] / (i * 0.5 + 1.0) * tick_dir
        shown = []
        for v in values:
            x = v * scale - offset
            if x < low or x > high:
                shown.append(None)
                continue
            shown.append(x)
            # QPointF, not pyqtgraph's Point (a Python-level constructor):
            # the same coordinates at a fraction of the cost, a hundred and
            # more of them at every frame of a moving axis.
            if along:
                tick_specs.append((pen, QPointF(x, tick_start), QPointF(x, tick_stop + tick_length)))
            else:
                tick_specs.append((pen, QPointF(tick_start, x), QPointF(tick_stop + tick_length, x)))
        positions.append(shown)
    return positions, tick_specs


def tick_values_key(axis, low: float, high: float, size: float):
    """What AxisItem.tickValues' answer for (low, high, size) depends on, or
    None where it depends on more (a log scale) or cannot be told.

    The base class makes each level's ticks from the level's (spacing,
    offset), its first tick's index and its number of ticks, and the axis'
    scale, by the same arithmetic each time: two ranges with the same key
    have the same ticks. A live plot's x axis scrolls through many ranges
    with the same ticks between two tick spacings."""
    if axis.logMode:
        return None
    low, high = sorted((low * axis.scale, high * axis.scale))
    if not (math.isfinite(low) and math.isfinite(high)):
        return None
    levels = tuple(axis.tickSpacing(low, high, size))
    counts = []
    for spacing, offset in levels:
        first = math.ceil((low - offset) / spacing)
        start = first * spacing + offset
        counts.append((first, int((high - start) / spacing) + 1))
    return axis.scale, levels, tuple(counts)


def tick_values(axis, low: float, high: float, size: float) -> list:
    """AxisItem.tickValues' answer on a linear axis, by the same arithmetic
    over plain floats: each level's ticks start at the first multiple of
    its spacing (plus offset) in the range, and a tick within a hundredth
    of the spacing of a higher level's tick is that tick (left out)."""
    low, high = sorted((low, high))
    low *= axis.scale
    high *= axis.scale
    ticks, seen = [], []  # seen: the higher levels' ticks, in order
    for spacing, offset in axis.tickSpacing(low, high, size):
        start = (math.ceil((low - offset) / spacing) * spacing) + offset
        count = int((high - start) / spacing) + 1
        near = spacing / axis.scale * 0.01
        values = [(k * spacing + start) / axis.scale for k in range(count)]
        if seen and values:
            values = [v for v, far in zip(values, _far_from(seen, values, near)) if far]
        seen = sorted(seen + values)
        ticks.append((spacing / axis.scale, values))
    return ticks


def _far_from(ordered: list, values: list, near: float) -> list:
    """For each of `values`, whether no value of `ordered` (sorted, not
    empty) lies within `near` of it: its neighbours on either side are the
    nearest."""
    ordered, values = np.asarray(ordered), np.asarray(values)
    after = np.searchsorted(ordered, values)
    before = np.abs(values - ordered[np.maximum(after - 1, 0)])
    beyond = np.abs(ordered[np.minimum(after, len(ordered) - 1)] - values)
    return (np.minimum(before, beyond) > near).tolist()


def _span(orientation, bounds, tick_bounds):
    """(the axis line's ends, where ticks start and stop, their direction, along x)."""
    if orientation == "left":
        return ((bounds.topRight() + Point(-1.0, -1.0), bounds.bottomRight() + Point(-1.0, 1.0)),
                tick_bounds.right(), bounds.right(), -1, 0)
    if orientation == "right":
        return ((bounds.topLeft() + Point(1.0, -1.0), bounds.bottomLeft() + Point(1.0, 1.0)),
                tick_bounds.left(), bounds.left(), 1, 0)
    if orientation == "top":
        return ((bounds.bottomLeft() + Point(-1.0, -1.0), bounds.bottomRight() + Point(1.0, -1.0)),
                tick_bounds.bottom(), bounds.bottom(), -1, 1)
    return ((bounds.topLeft() + Point(-1.0, 1.0), bounds.topRight() + Point(1.0, 1.0)),
            tick_bounds.top(), bounds.top(), 1, 1)


def _mapping(value_range, bounds, along):
    """(scale, offset): a value v is at v * scale - offset in the axis' coordinates."""
    dif = value_range[1] - value_range[0]
    if dif == 0:
        return 1, 0
    if not along:
        scale = -bounds.height() / dif
        return scale, value_range[0] * scale - bounds.height()
    scale = bounds.width() / dif
    return scale, value_range[0] * scale


def _level_pen(axis, i: int, ticks: int, length: float) -> QtGui.QPen:
    """The pen of the ticks of level `i`: fainter the finer the level."""
    alpha = axis.style["tickAlpha"]
    if alpha is None:
        alpha = 255 / (i + 1)
        if axis.grid is not False:
            alpha *= axis.grid / 255. * fn.clip_scalar((0.05 * length / (ticks + 1)), 0., 1.)
    elif isinstance(alpha, float):
        alpha = min(255, max(0, int(round(alpha * 255))))
    elif isinstance(alpha, int):
        if alpha > 255 or alpha < 0:
            raise ValueError("lineAlpha should be [0..255]")
    else:
        raise TypeError("Line Alpha should be of type None, float or int")
    pen = axis.tickPen()
    if pen.brush().style() == QtCore.Qt.BrushStyle.SolidPattern:
        pen = QtGui.QPen(pen)
        color = QtGui.QColor(pen.color())
        color.setAlpha(int(alpha))
        pen.setColor(color)
    return pen


def _texts(axis, p, levels, positions, tick_stop, length, along):
    """The text specs of the levels that have room, and the widest text
    across the axis (its width for a vertical axis, height otherwise)."""
    style = axis.style
    flags, _ = ALIGNMENT[axis.orientation]
    box = axis.boundingRect()
    offset = max(0, style["tickLength"]) + style["tickTextOffset"][along]
    specs, sizes = [], []  # sizes: (along the axis, across) of every measured text
    widest = 0
    for i in range(min(len(levels), style["maxTextLevel"] + 1)):
        spacing, values = levels[i]
        strings = axis.tickStrings(values, axis.autoSIPrefixScale * axis.scale, spacing)
        if len(strings) == 0:
            continue
        placed = []
        for text, x in zip(strings, positions[i]):
            if x is None:
                continue
            width, height = _text_size(p, text)
            placed.append((text, x, width, height))
            sizes.append((height, width) if not along else (width, height))
        total = sum(s[0] for s in sizes)
        across = max((s[1] for s in sizes), default=0)
        if i > 0 and any(len(specs) >= count and total / length >= limit
                         for count, limit in style["textFillLimits"]):
            break
        widest = across
        for text, x, width, height in placed:
            rect = _text_rect(axis.orientation, tick_stop, offset, x, width, height)
            if box & rect == rect:
                specs.append((rect, flags, text))
    return specs, widest


def _text_size(p, text: str) -> tuple[float, float]:
    """(width, 0.8 of the height) of `text` centred in MEASURE_BOX, as the
    base class measures a tick text; from the painter's kept measures where
    it keeps them (axisdraw.MeasuringPainter.centred_size)."""
    kept = getattr(p, "centred_size", None)
    if kept is not None:
        return kept(text)
    measure = QtCore.QRectF(p.boundingRect(MEASURE_BOX, Align.AlignCenter, text))
    return measure.width(), measure.height() * 0.8


def _text_rect(orientation, tick_stop, offset, x, width, height) -> QtCore.QRectF:
    if orientation == "left":
        return QtCore.QRectF(tick_stop - offset - width, x - height / 2, width, height)
    if orientation == "right":
        return QtCore.QRectF(tick_stop + offset, x - height / 2, width, height)
    if orientation == "top":
        return QtCore.QRectF(x - width / 2., tick_stop - offset - height, width, height)
    return QtCore.QRectF(x - width / 2., tick_stop + offset, width, height)


# The order in which a log axis' minor ticks get a label where there is
# room: halfway (5), then 2, then the others.
_MINOR_ORDER = {5: 0, 2: 1, 3: 2}


def spaced_log_labels(values, strings, view: tuple[float, float], length: float,
                      room) -> list[str]:
    """The texts of a log axis' minor ticks (`values`, log10) with those
    blanked that would crowd a decade's label or each other: along an axis
    of `length` pixels showing `view` (log10), a label needs `room(text)`
    pixels from the next. The decades' own labels always stay."""
    low, high = view
    if not high > low or length <= 0:
        return list(strings)
    scale = length / (high - low)
    kept = [scale * d for d in range(math.floor(low), math.ceil(high) + 1)]

    def order(i):
        mantissa = round(10 ** (values[i] - math.floor(values[i] + 1e-9)))
        return _MINOR_ORDER.get(mantissa, 3), values[i]
    shown = [text if float(value).is_integer() else "" for value, text in zip(values, strings)]
    for i in sorted((i for i, value in enumerate(values) if not float(value).is_integer()),
                    key=order):
        at = scale * values[i]
        if strings[i] and all(abs(at - other) >= room(strings[i]) for other in kept):
            kept.append(at)
            shown[i] = strings[i]
    return shown

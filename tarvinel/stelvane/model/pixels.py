"""Whether new rows change a plot's picture by at least a pixel.

A slow source (a row every 100 ms) or a fine one (many rows a pixel) adds
rows that the screen cannot show apart from what it shows already: a frame
drawn for them costs a core's share and shows nothing new. A plot's
picture changes when

- its view moves: following its data, the view is fitted to the data's
  bounds, and a bound that moves takes the view's edge with it (predicted
  here from how the current view pads the current bounds);
- a curve gains points a pixel or more away from its last drawn point
  (across or along the view), unless the new points and that last point
  lie all beyond one edge of the view (no line between them crosses it),
  or loses points from its start in the same way.

Distances, not pixel cells: a point a tenth of a pixel from the last one
drawn, across a cell's edge, moves nothing by a pixel (and the cells move
by fractions of a pixel whenever a fitted view takes in new rows). On a log
axis the values are placed by their logarithm, as the plot draws them.
"""

from dataclasses import dataclass
import math

import numpy as np


@dataclass(frozen=True)
class ViewAxis:
    """One axis of a view as drawn: the range shown (in view units, the
    logarithm of the values on a log axis) over `pixels` pixels."""
    low: float
    high: float
    pixels: float
    log: bool = False

    @property
    def per_unit(self) -> float:
        span = self.high - self.low
        return self.pixels / span if span > 0 else 0.0

    def place(self, values) -> np.ndarray:
        """Values in view units (NaN where a log axis cannot show them)."""
        values = np.asarray(values, dtype=float)
        if not self.log:
            return values
        with np.errstate(divide="ignore", invalid="ignore"):
            return np.where(values > 0, np.log10(np.where(values > 0, values, 1.0)), np.nan)

    def place_one(self, value: float) -> float:
        """One value in view units (NaN where a log axis cannot show it)."""
        value = float(value)
        if not self.log:
            return value
        return math.log10(value) if value > 0 else math.nan


def bounds(axis: ViewAxis, values) -> tuple[float, float] | None:
    """(lowest, highest) of the values in view units; None for none."""
    placed = axis.place(values)
    if not len(placed):
        return None
    low, high = float(placed.min()), float(placed.max())
    if math.isfinite(low) and math.isfinite(high):
        return low, high  # the common case: two passes over the values
    placed = placed[np.isfinite(placed)]
    return (float(placed.min()), float(placed.max())) if len(placed) else None


def joined(first, second):
    """The bounds that hold both (either may be None)."""
    if first is None or second is None:
        return first if second is None else second
    return min(first[0], second[0]), max(first[1], second[1])


def fit_moves(axis: ViewAxis, drawn, new) -> bool:
    """Whether fitting the view to the `new` bounds instead of the `drawn`
    ones moves an edge of `axis` (a view fitted to `drawn`) by a pixel or
    more. The view pads the bounds as it does now."""
    if drawn == new:
        return False
    if drawn is None or new is None or axis.per_unit == 0:
        return True
    span = drawn[1] - drawn[0]
    if span <= 0:
        return True  # a flat curve's view: any other bound rescales it
    low_pad, high_pad = (drawn[0] - axis.low) / span, (axis.high - drawn[1]) / span
    new_span = new[1] - new[0]
    low, high = new[0] - low_pad * new_span, new[1] + high_pad * new_span
    return max(abs(low - axis.low), abs(high - axis.high)) * axis.per_unit >= 1.0


def extent(axis: ViewAxis, values) -> tuple[float, float]:
    """(lowest, highest) of the values in view units: NaN when one of them
    is not shown (a gap, or a value a log axis cannot show)."""
    values = np.asarray(values, dtype=float)
    return axis.place_one(float(values.min())), axis.place_one(float(values.max()))


def off_view(x_axis: ViewAxis, y_axis: ViewAxis, x, y, anchor) -> bool:
    """Whether the points (x, y) and `anchor` all lie beyond one and the
    same edge of the view: no line between them can cross it."""
    for axis, values, end in ((x_axis, x, anchor[0]), (y_axis, y, anchor[1])):
        first, last = extent(axis, values)
        end = axis.place_one(end)
        if not (math.isfinite(first) and math.isfinite(last) and math.isfinite(end)):
            return False  # a gap: the line breaks and starts again anywhere
        if min(first, end) > axis.high or max(last, end) < axis.low:
            return True
    return False


def within_a_pixel(x_axis: ViewAxis, y_axis: ViewAxis, x, y,
                   anchor: tuple[float, float]) -> bool:
    """Whether the points (x, y) all lie less than a pixel from `anchor`
    (x, y), across and along the view."""
    for axis, values, end in ((x_axis, x, anchor[0]), (y_axis, y, anchor[1])):
        first, last = extent(axis, values)
        end = axis.place_one(end)
        reach = max(abs(first - end), abs(last - end)) * axis.per_unit
        if not reach < 1.0:  # NaN too: a gap shows
            return False
    return True


def points_show(x_axis: ViewAxis, y_axis: ViewAxis, x, y, anchor) -> bool:
    """Whether adding (or taking away) the points (x, y) next to the drawn
    point `anchor` changes a pixel of the view."""
    if not len(x):
        return False
    return not (within_a_pixel(x_axis, y_axis, x, y, anchor)
                or off_view(x_axis, y_axis, x, y, anchor))

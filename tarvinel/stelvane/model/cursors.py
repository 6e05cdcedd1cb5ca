"""Two measuring cursors, A and B, at places on X: what each curve of a plot
reads at them and between them.

A curve's value at a cursor is that of its sample nearest to the cursor's x
(of samples at the same x the last, as the tracker reads them), taken from
the rows behind the curve, never from the thinned points it draws; a cursor
outside the curve's X extent reads nothing. Between the cursors: Δx (from A
to B), each curve's Δy, Δy/Δx and the mean of its finite values whose x
lies between them. Times read as times, their differences as durations.
No Qt here.
"""

from dataclasses import dataclass
import math

import numpy as np

from ..formats.valuetext import MISSING_TEXT, duration_text, number_text, value_text
from ..protocol import NUMBER, TIME
from .columnkinds import PLAIN, Shown
from .statistics import EMPTY, summarise_in_range

NAMES = ("A", "B")
# The columns of a curve's line of readings, in the order they are shown.
COLUMNS = ("curve", "A", "B", "Δy", "Δy/Δx", "mean")


def nearest_value(x: np.ndarray, y: np.ndarray, at: float) -> float | None:
    """y of the sample nearest to `at` (the last of ties) among the rows
    with a finite x and y; None when `at` lies outside their X extent."""
    usable = np.isfinite(x) & np.isfinite(y)
    if not usable.any():
        return None
    xs, ys = x[usable], y[usable]
    if not xs.min() <= at <= xs.max():
        return None
    distance = np.abs(xs - at)
    i = len(distance) - 1 - int(np.argmin(distance[::-1]))
    return float(ys[i])


@dataclass(frozen=True)
class CursorReading:
    """One curve at the cursors: its values there (None: none), and the mean
    of its values between them (NaN: none, or not both cursors set)."""
    name: str
    key: object
    kind: Shown
    at_a: float | None
    at_b: float | None
    mean: float

    @property
    def delta_y(self) -> float:
        if self.at_a is None or self.at_b is None:
            return math.nan
        return self.at_b - self.at_a


def value_in_blocks(blocks, at: float | None) -> float | None:
    """A curve's value at `at`, from the first of its blocks that reaches it."""
    if at is None:
        return None
    for block in blocks:
        value = nearest_value(np.asarray(block.x, float), np.asarray(block.y, float), at)
        if value is not None:
            return value
    return None


def mean_between(blocks, a: float | None, b: float | None) -> float:
    if a is None or b is None:
        return math.nan
    low, high = min(a, b), max(a, b)
    total = EMPTY
    for block in blocks:
        total = total.then(summarise_in_range(np.asarray(block.x, float),
                                              np.asarray(block.y, float), low, high))
    return total.mean


def measure(curves, a: float | None, b: float | None) -> list[CursorReading]:
    """The readings of each curve (statistics.CurveRows) at cursors `a`, `b`."""
    return [CursorReading(curve.name, curve.key, curve.kind, value_in_blocks(curve.blocks, a),
                          value_in_blocks(curve.blocks, b), mean_between(curve.blocks, a, b))
            for curve in curves]


def difference_text(value: float, kind: str) -> str:
    """A difference of values of `kind`: of times a duration."""
    return duration_text(value) if kind == TIME else value_text(value, NUMBER)


def slope_text(delta_y: float, delta_x: float, x_kind: str, y_kind: str) -> str:
    """Δy/Δx; against time, per second."""
    if not delta_x or math.isnan(delta_y):
        return MISSING_TEXT
    per = " /s" if x_kind == TIME else ""
    unit = " s" if y_kind == TIME else ""
    return f"{number_text(delta_y / delta_x)}{unit}{per}"


def reading_texts(reading: CursorReading, delta_x: float, x_shown: Shown = PLAIN) -> list[str]:
    """A curve's line of readings as texts, in the order of COLUMNS."""
    kind = reading.kind
    at = ["–" if value is None else kind.text(value) for value in (reading.at_a, reading.at_b)]
    mean = (kind.text(reading.mean) if kind.kind == TIME else value_text(reading.mean, NUMBER))
    return [reading.name, *at, difference_text(reading.delta_y, kind.kind),
            slope_text(reading.delta_y, delta_x, x_shown.kind, kind.kind), mean]


def header_texts(a: float | None, b: float | None, x_shown: Shown = PLAIN) -> list[str]:
    """`A x`, `B x` and `Δx` (of times: a duration) for the cursors set."""
    texts = [f"{name} {x_shown.text(at)}" for name, at in zip(NAMES, (a, b)) if at is not None]
    if a is not None and b is not None:
        texts.append(f"Δx {difference_text(b - a, x_shown.kind)}")
    return texts


def readings_text(a, b, readings, x_shown: Shown = PLAIN) -> str:
    """The cursors' readings as plain text for the clipboard: a line of the
    cursors, a line of headings, then a line per curve, tab-separated."""
    delta_x = math.nan if a is None or b is None else b - a
    lines = ["\t".join(header_texts(a, b, x_shown)), "\t".join(COLUMNS)]
    lines += ["\t".join(reading_texts(r, delta_x, x_shown)) for r in readings]
    return "\n".join(lines)


def reading_dict(reading: CursorReading, delta_x: float) -> dict:
    """For --summary: numbers, None for none."""
    def number(value):
        return None if value is None or not math.isfinite(value) else value
    slope = reading.delta_y / delta_x if delta_x and math.isfinite(delta_x) else math.nan
    return {"curve": reading.name, "a": number(reading.at_a), "b": number(reading.at_b),
            "dy": number(reading.delta_y), "dy_dx": number(slope), "mean": number(reading.mean)}

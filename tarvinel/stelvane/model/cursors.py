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
from . import growth
from .columnkinds import PLAIN, Shown
from .statistics import EMPTY, summarise, rows_in_range

NAMES = ("A", "B")
# The columns of a curve's line of readings, in the order they are shown.
COLUMNS = ("curve", "A", "B", "Δy", "Δy/Δx", "mean")


# Rows looked at around a cursor where X grows, at first (doubled until a
# sample with a value is found on each side).
NEAR_ROWS = 64


def nearest_value(x: np.ndarray, y: np.ndarray, at: float, grows: bool = False) -> float | None:
    """y of the sample nearest to `at` (the last of ties) among the rows
    with a finite x and y; None when `at` lies outside their X extent.
    Where X grows (`grows`), only the rows around `at` are looked at."""
    return _pick([nearest_sample(x, y, at, grows)])


def nearest_sample(x, y, at: float, grows: bool = False):
    """(distance, y) of the usable sample nearest to `at` (the last of
    ties), and whether usable samples lie at or below `at` and at or above
    it; None without usable rows."""
    if not grows:
        return _nearest_in_rows(x, y, at)
    i = int(np.searchsorted(x, at))
    reach = NEAR_ROWS
    while True:
        low, high = max(0, i - reach), min(len(x), i + reach)
        # Enough rows when a usable sample lies on each side of `at`, or
        # the rows end there: no nearer sample lies further out.
        if ((low == 0 or _usable(x[low:i], y[low:i]))
                and (high == len(x) or _usable(x[i:high], y[i:high]))):
            return _nearest_in_rows(x[low:high], y[low:high], at)
        reach *= 2


def _usable(x, y) -> bool:
    return bool((np.isfinite(x) & np.isfinite(y)).any())


def _nearest_in_rows(x, y, at: float):
    usable = np.isfinite(x) & np.isfinite(y)
    if not usable.any():
        return None
    xs, ys = x[usable], y[usable]
    distance = np.abs(xs - at)
    i = len(distance) - 1 - int(np.argmin(distance[::-1]))
    return float(distance[i]), float(ys[i]), bool(xs.min() <= at), bool(xs.max() >= at)


def _pick(found) -> float | None:
    """The value of the nearest of the samples `found` (nearest_sample's,
    block after block; of ties the later), None when the cursor lies
    beyond all of them on a side."""
    found = [sample for sample in found if sample is not None]
    if not (any(sample[2] for sample in found) and any(sample[3] for sample in found)):
        return None
    return min(reversed(found), key=lambda sample: sample[0])[1]


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


def _outside(block, low: float, high: float) -> bool:
    """Whether a block's known X extent misses [low, high] altogether."""
    return block.low is not None and (high < block.low or low > block.high)


class BlockGrowth:
    """Whether each block's X grows, kept for blocks that never change (a
    finished run's): a long history is looked at once, not at every
    reading. What one reading (`measure`) did not ask for is let go."""

    def __init__(self):
        self.kept: dict = {}
        self.used: dict = {}

    def of(self, ident):
        """The test for the blocks of the curve that `ident` names."""
        def grows(block) -> bool:
            if block.key is None:
                return growth.grows(block.x)
            key = (block.key, ident)
            found = self.kept.get(key)
            if found is None:
                found = growth.grows(block.x)
            self.used[key] = found
            return found
        return grows

    def done(self) -> None:
        self.kept, self.used = self.used, {}


def plain_growth(block) -> bool:
    return growth.grows(block.x)


def value_in_blocks(blocks, at: float | None, grows=plain_growth) -> float | None:
    """A curve's value at `at`: of its sample nearest to it, over all its blocks."""
    if at is None:
        return None
    return _pick([nearest_sample(np.asarray(block.x, float), np.asarray(block.y, float), at,
                                 grows(block)) for block in blocks])


def mean_between(blocks, a: float | None, b: float | None, grows=plain_growth) -> float:
    if a is None or b is None:
        return math.nan
    low, high = min(a, b), max(a, b)
    total = EMPTY
    for block in blocks:
        if not _outside(block, low, high):
            x, y = np.asarray(block.x, float), np.asarray(block.y, float)
            total = total.then(summarise(y[rows_in_range(x, low, high, grows(block))]))
    return total.mean


def measure(curves, a: float | None, b: float | None, grows=None) -> list[CursorReading]:
    """The readings of each curve (statistics.CurveRows) at cursors `a`, `b`;
    `grows` (a BlockGrowth) keeps what it learnt of the blocks' X."""
    kept = grows or BlockGrowth()
    readings = []
    for curve in curves:
        grows = kept.of(curve.ident)
        readings.append(CursorReading(curve.name, curve.key, curve.kind,
                                      value_in_blocks(curve.blocks, a, grows),
                                      value_in_blocks(curve.blocks, b, grows),
                                      mean_between(curve.blocks, a, b, grows)))
    kept.done()
    return readings


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

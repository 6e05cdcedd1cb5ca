"""The functions of an expression that read along the rows: each one is
evaluated block by block as rows arrive, and carries from one block to the
next what it needs of the rows before, so that a run given in blocks split
anywhere gives the values the whole run gives at once (to the rounding of
the sums).

X is the column the rows are plotted against (a time column's seconds, or
the row number); the functions read its real part.

- derivative(y): (y[i] - y[i-1]) / (X[i] - X[i-1]), the backward difference.
  numpy.gradient takes a central difference inside the column, from the
  row before and the row after: the newest row's value would change when
  the next row arrives, and the rows a data set stores never change. So
  every row takes the difference to the row before, at every place the
  same (numpy.gradient's own formula at a column's end); the first row of
  a run has none and is NaN.
- delta(y): y[i] - y[i-1]; the first row of a run NaN.
- integral(y): cumulative trapezoids against X from the run's first row
  (which is 0); an interval with a missing value (NaN) adds nothing.
- moving_average(y, N): the mean of the last N rows (fewer at the start of
  a run); a NaN in the window makes the mean NaN, as numpy.mean does.
- lowpass(y, f): a first-order low-pass (an RC filter) at f Hz of X's
  time: v[i] = v[i-1] + (1 - a) (y[i] - v[i-1]) with a = exp(-2 pi f dX),
  dX the time since the row before (exact for an input that steps to each
  row's value right after the row before), starting at the first value. A
  row with a missing y or X is NaN and leaves the filter as it was (the
  next row's dX counts from the last row taken); X going back counts as no
  time.

No Qt here.
"""

import math

import numpy as np

# Rows a cumulative sum runs over at most: the rounding of a running sum
# grows with its length, so long blocks are taken in pieces of this size.
PIECE = 16384
# The largest window of moving_average.
MAX_WINDOW = 10_000_000


def _with_last(last, values: np.ndarray) -> np.ndarray:
    """`values` after the carried value of the row before them."""
    return np.concatenate((np.asarray([last], dtype=np.result_type(values, last)), values))


def _steps(last, values: np.ndarray, pairs=np.subtract) -> np.ndarray:
    """`pairs` of each value and the one before it (the first with `last`):
    numpy.diff of the values after `last` without joining them first."""
    made = np.empty(len(values), np.result_type(values, last))
    if len(values):
        made[0] = pairs(values[0], last)
        pairs(values[1:], values[:-1], out=made[1:])
    return made


def in_pieces(step, y: np.ndarray, x: np.ndarray) -> np.ndarray:
    """`step(y, x)` over pieces of at most PIECE rows, joined."""
    if len(y) <= PIECE:
        return step(y, x)
    return np.concatenate([step(y[i:i + PIECE], x[i:i + PIECE])
                           for i in range(0, len(y), PIECE)])


class Delta:
    """delta(y): y minus the row before."""

    def __init__(self):
        self.last_x = self.last_y = math.nan

    def __call__(self, y: np.ndarray, x: np.ndarray) -> np.ndarray:
        values = _steps(self.last_y, y)
        self._remember(y, x)
        return values

    def _remember(self, y, x) -> None:
        if len(y):
            self.last_x, self.last_y = x[-1], y[-1]


class Derivative(Delta):
    """derivative(y): the backward difference dy/dX."""

    def __call__(self, y: np.ndarray, x: np.ndarray) -> np.ndarray:
        values = _steps(self.last_y, y)
        values /= _steps(self.last_x, x)
        self._remember(y, x)
        return values


class Integral(Delta):
    """integral(y): the cumulative trapezoids against X."""

    def __init__(self):
        super().__init__()
        self.total = 0.0

    def __call__(self, y: np.ndarray, x: np.ndarray) -> np.ndarray:
        return in_pieces(self._piece, y, x)

    def _piece(self, y, x) -> np.ndarray:
        areas = _steps(self.last_y, y, np.add)
        areas *= _steps(self.last_x, x)
        areas *= 0.5
        values = np.cumsum(areas)
        # A NaN among the areas leaves the sum NaN to its end: only then are
        # they looked at (the first row's has nothing before it; missing values).
        if len(values) and np.isnan(values[-1]):
            missing = np.isnan(areas)
            areas[missing] = 0
            np.cumsum(areas, out=values)
        if np.iscomplexobj(self.total) and not np.iscomplexobj(values):
            values = values.astype(np.complex128)  # complex values came before
        values += self.total
        self._remember(y, x)
        if len(values):
            self.total = values[-1]
        return values


class MovingAverage:
    """moving_average(y, N): the trailing mean of the last N rows."""

    def __init__(self, rows: int):
        self.rows = rows
        self.tail = np.empty(0)  # the last rows - 1 values so far

    def __call__(self, y: np.ndarray, x: np.ndarray) -> np.ndarray:
        return in_pieces(self._piece, y, x)

    def _piece(self, y, x) -> np.ndarray:
        ys = np.concatenate((self.tail.astype(np.result_type(self.tail, y)), y))
        before = len(ys) - len(y)
        # Each row's window is ys[start:end]; once a run has rows - 1 rows
        # before a block, every window of the block is whole.
        end = slice(before + 1, len(ys) + 1)
        if before + 1 >= self.rows:
            start, counts = slice(before + 1 - self.rows, len(ys) + 1 - self.rows), self.rows
        else:
            start = np.maximum(np.arange(before + 1, len(ys) + 1) - self.rows, 0)
            counts = np.arange(before + 1, len(ys) + 1) - start
        sums = _running(ys)
        # A NaN or an infinity among the values leaves the sum so to its end:
        # only then are they looked at.
        if not np.isfinite(sums[-1]):
            finite = np.isfinite(ys)
            sums = _running(np.where(finite, ys, 0))
            values = (sums[end] - sums[start]) / counts
            return self._keep_tail(ys, _with_nonfinite(values, ys, finite, start, end))
        return self._keep_tail(ys, (sums[end] - sums[start]) / counts)

    def _keep_tail(self, ys, values):
        self.tail = ys[len(ys) - min(len(ys), self.rows - 1):].copy()
        return values


def _running(values: np.ndarray) -> np.ndarray:
    """0 and the running sums of `values`: any stretch's sum is a difference of two."""
    sums = np.empty(len(values) + 1, values.dtype)
    sums[0] = 0
    np.cumsum(values, out=sums[1:])
    return sums


def _with_nonfinite(means, ys, finite, start, end) -> np.ndarray:
    """The means of windows that hold a NaN or an infinity, as numpy.mean
    gives them: NaN for a NaN or for infinities of both signs, else the
    infinity."""
    def count(mask):
        sums = _running(mask.astype(np.intp))
        return sums[end] - sums[start]
    if ys.dtype.kind == "c":
        return np.where(count(~finite) > 0, complex(math.nan, math.nan), means)
    nan, up, down = count(np.isnan(ys)), count(ys == math.inf), count(ys == -math.inf)
    means = np.where(up > 0, math.inf, means)
    means = np.where(down > 0, -math.inf, means)
    return np.where((nan > 0) | ((up > 0) & (down > 0)), math.nan, means)


class Lowpass:
    """lowpass(y, f): a first-order low-pass at f Hz of X."""

    def __init__(self, frequency: float):
        self.rate = 2 * math.pi * frequency
        self.last_x = math.nan  # X of the last row the filter took
        self.value = None  # the filter's output so far; None before the first value

    def __call__(self, y: np.ndarray, x: np.ndarray) -> np.ndarray:
        return in_pieces(self._piece, y, x)

    def _piece(self, y, x) -> np.ndarray:
        taken = np.isfinite(y) & np.isfinite(x)
        if not taken.any():
            return np.full(len(y), math.nan, dtype=np.result_type(y, float))
        # Each row's time since the last row taken before it.
        rows = np.arange(len(y))
        last_taken = np.maximum.accumulate(np.where(taken, rows, -1))
        x_taken = np.where(last_taken >= 0, x[np.maximum(last_taken, 0)], self.last_x)
        step = x - _with_last(self.last_x, x_taken[:-1])
        keep = np.exp(-self.rate * np.clip(np.nan_to_num(step, nan=0.0), 0, None))
        keep[~taken] = 1
        if self.value is None:
            keep[np.argmax(taken)] = 0  # the first value starts the filter
        gain = np.where(taken, y, 0) * (1 - keep)
        values = first_order(keep, gain, 0.0 if self.value is None else self.value)
        self.value, self.last_x = values[-1], x_taken[-1]
        values[~taken] = math.nan
        return values


def first_order(keep: np.ndarray, gain: np.ndarray, before) -> np.ndarray:
    """v[i] = keep[i] * v[i-1] + gain[i] from v[-1] = `before`, for all
    rows at once: pairs of (keep, gain) compose (a later pair after an
    earlier one is (k2 k1, k2 g1 + g2)), and log2(rows) passes of composing
    each row with the one `span` rows before it (span 1, 2, 4, ...) give
    every row its composition with all the rows before it."""
    keep, gain = keep.copy(), gain.astype(np.result_type(gain, before), copy=True)
    span = 1
    while span < len(keep):
        gain[span:] += keep[span:] * gain[:-span]
        keep[span:] *= keep[:-span]
        span *= 2
    return gain + keep * before


def _window(value) -> int:
    if not 1 <= value <= MAX_WINDOW or value != int(value):
        raise ValueError(f"the window N must be a whole number from 1 to {MAX_WINDOW:,}")
    return int(value)


def _frequency(value) -> float:
    if not 0 < value < math.inf:
        raise ValueError("the frequency f must be a number greater than 0 (Hz)")
    return float(value)


# name -> (the class, and the name and check of its second argument, or None)
ROW_FUNCTIONS = {
    "derivative": (Derivative, None),
    "integral": (Integral, None),
    "delta": (Delta, None),
    "moving_average": (MovingAverage, ("N", _window)),
    "lowpass": (Lowpass, ("f", _frequency)),
}

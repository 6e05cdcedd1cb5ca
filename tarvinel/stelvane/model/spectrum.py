"""The amplitude spectrum of a curve's rows: y against an evenly spaced x,
its mean taken off, under a Hann window, as amplitudes (in Y's units) or as
power in dB.

Rows whose x is not evenly spaced (samples that arrive with jitter, a gap)
are first resampled onto an even grid by linear interpolation, at the mean
step of their x leaving out gaps (steps over twice the median). The amplitudes are scaled by the window's coherent gain, so
a sine of amplitude A whose frequency falls on a bin reads A there. No Qt
here.
"""

from dataclasses import dataclass
import math

import numpy as np

from .growth import grows

# X steps that differ from their mean by less than this share of it count
# as even: the jitter of floating-point time stamps is not unevenness.
EVEN_TOLERANCE = 1e-6
# The grid of an uneven X holds at most this many times the rows: a few
# long gaps must not make the grid huge.
GRID_PER_ROW = 4
# The fewest rows a spectrum is made of.
LEAST_ROWS = 8
# Power in dB is 20 log10 of the amplitude; amplitudes this far below the
# highest are shown at this level rather than as minus infinity.
DB_FLOOR = -240.0
# Steps looked at for the median step of an uneven X, which tells its gaps.
MEDIAN_SAMPLE = 1024
# The most rows one spectrum is made of: a range of more rows (a recording
# of millions, zoomed out) is taken as STRETCHES stretches spread evenly over
# it, of MOST_ROWS // STRETCHES rows each, whose spectra are averaged. Their
# frequency bins are still far finer than a plot's pixels.
MOST_ROWS = 1 << 21
STRETCHES = 32
# Windows of the lengths used last, kept: a live curve keeps its length
# from frame to frame, and making the window costs more than the transform.
KEPT_WINDOWS = 16
_windows: dict = {}


@dataclass(frozen=True)
class Spectrum:
    frequency: np.ndarray  # cycles per unit of x, from 0 up
    amplitude: np.ndarray  # of each frequency, in y's units
    step: float            # the x step of the grid

    def in_db(self) -> np.ndarray:
        """Power in dB (relative to an amplitude of 1)."""
        peak = float(self.amplitude.max()) if len(self.amplitude) else 0.0
        floor = peak * 10.0 ** (DB_FLOOR / 20) if peak > 0 else 10.0 ** (DB_FLOOR / 20)
        return 20.0 * np.log10(np.maximum(self.amplitude, floor))


# The share of a spectrum's power its default view shows the band of, and
# the room beyond that band's edge, as a share of the edge.
BAND_SHARE = 0.99
BAND_MARGIN = 0.25


def energy_band(frequency: np.ndarray, amplitude: np.ndarray, share: float = BAND_SHARE) -> float:
    """The frequency under which `share` of the spectrum's power lies (the
    highest frequency for a spectrum without power)."""
    if not len(frequency):
        return 0.0
    power = np.cumsum(np.square(np.asarray(amplitude, dtype=float)))
    total = float(power[-1])
    if not total > 0 or not math.isfinite(total):
        return float(frequency[-1])
    edge = int(np.searchsorted(power, share * total))
    return float(frequency[min(edge, len(frequency) - 1)])


def band_view(edges, highest: float, log: bool, lowest: float = 0.0):
    """The X range that shows the bands up to `edges` (one per spectrum) with
    BAND_MARGIN beyond the widest, at most up to `highest` (Nyquist); on a
    log axis from `lowest` (the first frequency above 0), as log10. None
    when there is nothing to show."""
    edges = [edge for edge in edges if edge > 0]
    if not edges or not highest > 0:
        return None
    top = min(highest, max(edges) * (1 + BAND_MARGIN))
    if not log:
        return 0.0, top
    if not 0 < lowest < top:
        return None
    return math.log10(lowest), math.log10(top)


def hann(size: int) -> np.ndarray:
    """The Hann window of `size` points (read-only, kept for the next call)."""
    window = _windows.get(size)
    if window is None:
        if len(_windows) >= KEPT_WINDOWS:
            _windows.pop(next(iter(_windows)))
        window = _windows[size] = np.hanning(size)
        window.flags.writeable = False
    return window


def even_rows(x: np.ndarray, y: np.ndarray) -> tuple[np.ndarray, float] | None:
    """y on an evenly spaced x, and the step: the rows themselves when their
    x is even already, else y resampled at the typical step of x (rows in x
    order, non-finite ones left out). None when there are too few rows or
    x does not advance."""
    x = np.asarray(x, dtype=float)
    y = np.asarray(y, dtype=float)
    if len(x) < LEAST_ROWS:
        return None
    finite = np.isfinite(x) & np.isfinite(y)
    whole = bool(finite.all())
    if whole:
        step = (x[-1] - x[0]) / (len(x) - 1)
        # Time stamps since the epoch carry rounding of their own size's
        # precision in every step: that is no unevenness either.
        tolerance = max(EVEN_TOLERANCE * step, 8 * np.finfo(float).eps * max(abs(x[0]), abs(x[-1])))
        if step > 0 and np.all(np.abs(np.diff(x) - step) <= tolerance):
            return y, float(step)
    else:
        x, y = x[finite], y[finite]
    if not grows(x):
        order = np.argsort(x, kind="stable")
        x, y = x[order], y[order]
    steps = np.diff(x)
    steps = steps[steps > 0]
    if len(steps) < LEAST_ROWS - 1:
        return None
    # The mean of the steps that are no gaps (up to twice the median, which
    # a sample of them gives at a fraction of the cost): jitter averages out
    # and the grid keeps about one point per row.
    typical = float(np.median(steps[::-(-len(steps) // MEDIAN_SAMPLE)]))
    step = float(np.mean(steps[steps <= 2 * typical]))
    size = min(int(math.floor((x[-1] - x[0]) / step)) + 1, GRID_PER_ROW * len(x))
    if size < LEAST_ROWS:
        return None
    grid = x[0] + step * np.arange(size)
    return np.interp(grid, x, y), step


def amplitude_spectrum(x: np.ndarray, y: np.ndarray) -> Spectrum | None:
    """The amplitude spectrum of the rows (x, y) (see the module's text);
    None when they are too few for one."""
    even = even_rows(x, y)
    if even is None:
        return None
    values, step = even
    window = hann(len(values))
    values = (values - values.mean()) * window
    # Zeros up to a length of small factors: a transform of a length with a
    # large prime factor takes several times longer, and the padding only
    # samples the same spectrum more finely.
    size = fast_size(len(values))
    # One-sided: every bin but the first (and a last at exactly Nyquist)
    # holds the power of its negative twin too.
    amplitude = np.abs(np.fft.rfft(values, size)) * (2.0 / window.sum())
    amplitude[0] /= 2
    if size % 2 == 0:
        amplitude[-1] /= 2
    return Spectrum(np.fft.rfftfreq(size, step), amplitude, step)


def stretches(rows, length: int) -> list[tuple]:
    """The parts of the rows `rows` (a slice, or a mask over `length` rows)
    a spectrum is made of, as (slice, mask or None): the rows themselves,
    or where they are more than MOST_ROWS, STRETCHES stretches of the
    range, spread evenly over it."""
    if isinstance(rows, slice):
        start, stop, _ = rows.indices(length)
        if stop - start <= MOST_ROWS:
            return [(rows, None)]
    elif np.count_nonzero(rows) <= MOST_ROWS:
        return [(slice(None), rows)]
    else:
        start, stop = 0, length
    size = MOST_ROWS // STRETCHES
    parts = [slice(int(first), int(first) + size)
             for first in np.linspace(start, stop - size, STRETCHES)]
    return [(part, None if isinstance(rows, slice) else rows[part]) for part in parts]


def rows_of(values: np.ndarray, part: tuple) -> np.ndarray:
    """The values of a part that stretches() gives."""
    where, mask = part
    return values[where] if mask is None else values[where][mask]


def averaged(spectra: list) -> Spectrum | None:
    """One spectrum of a signal's stretches: their power averaged, at the
    first one's frequencies (a steady sine reads its amplitude)."""
    spectra = [spectrum for spectrum in spectra if spectrum is not None]
    if len(spectra) <= 1:
        return spectra[0] if spectra else None
    first = spectra[0]
    power = np.mean([np.square(np.interp(first.frequency, spectrum.frequency, spectrum.amplitude))
                     for spectrum in spectra], axis=0)
    return Spectrum(first.frequency, np.sqrt(power), first.step)


def fast_size(n: int) -> int:
    """The least number >= n with no prime factor above 5."""
    best = 1 << max(0, (n - 1).bit_length())
    fives = 1
    while fives < best:
        threes = fives
        while threes < best:
            twos = threes << max(0, (-(-n // threes) - 1).bit_length())
            best = min(best, twos)
            threes *= 3
        fives *= 5
    return best

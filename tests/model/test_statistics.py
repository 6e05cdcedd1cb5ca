"""The numbers behind the statistics table and the spectrum plot, against
numpy on the same rows."""

import json
import math

import numpy as np
import pytest

from tarvinel.stelvane.model.columnkinds import PLAIN, Shown
from tarvinel.stelvane.protocol import TEXT, TIME
from tarvinel.stelvane.model import spectrum as spectra
from tarvinel.stelvane.model.spectrum import (STRETCHES, amplitude_spectrum, averaged, fast_size,
                                            rows_of, stretches)
from tarvinel.stelvane.model.statistics import (EMPTY, CurveStats, figure_texts, rows_in_range,
                                          stats_line, summarise, summarise_in_range)
from tarvinel.stelvane.formats.valuetext import duration_text, time_text


def numpy_stats(y):
    finite = y[np.isfinite(y)]
    return len(finite), finite.min(), finite.max(), finite.mean(), finite.std(), finite[-1]


def test_blocks_combined_give_numpys_figures_over_the_finite_values():
    rng = np.random.default_rng(7)
    y = rng.normal(1e6, 3.0, 10_000)  # a large mean: the spread must keep its digits
    y[rng.integers(0, len(y), 40)] = np.nan
    y[17] = np.inf
    y[-1] = np.nan  # the last value is the last finite one
    cuts = [0, 1, 1, 333, 5000, 9998, len(y)]  # an empty block among them
    total = EMPTY
    for start, end in zip(cuts, cuts[1:]):
        total = total.then(summarise(y[start:end]))
    stats = CurveStats.of("y", total)
    count, low, high, mean, std, last = numpy_stats(y)
    assert (stats.count, stats.min, stats.max, stats.last) == (count, low, high, last)
    assert stats.mean == pytest.approx(mean, rel=1e-15)
    assert stats.std == pytest.approx(std, rel=1e-9)

    nothing = CurveStats.of("none", summarise(np.array([np.nan, np.inf])))
    assert nothing.count == 0
    # Nothing in view is null in --summary's JSON, not NaN (which JSON lacks).
    assert json.loads(json.dumps(nothing.as_dict())) == {
        "name": "none", "count": 0, "min": None, "max": None, "mean": None, "std": None,
        "last": None}


@pytest.mark.parametrize("grows", [True, False])
def test_rows_in_range_are_those_numpy_selects(grows):
    rng = np.random.default_rng(3)
    x = np.sort(rng.uniform(0, 100, 2_000)) if grows else rng.uniform(0, 100, 2_000)
    y = rng.normal(size=len(x))
    x[5] = 40.0  # on an edge: inside
    selected = (x >= 40.0) & (x <= 60.5)
    assert np.array_equal(y[rows_in_range(x, 40.0, 60.5)], y[selected])
    summary = summarise_in_range(x, y, 40.0, 60.5)
    assert summary.count == selected.sum() and summary.last == y[selected][-1]


def test_values_show_as_their_column_kind():
    when = Shown(TIME)
    t = np.array([1.8e9, 1.8e9 + 30.0, 1.8e9 + 90.0])
    stats = CurveStats.of("when", summarise(t))
    texts = figure_texts(stats, when)
    assert texts["min"] == time_text(t[0]) and texts["max"] == time_text(t[-1])
    assert texts["mean"] == time_text(t.mean())
    assert texts["std"] == duration_text(t.std()) and texts["count"] == "3"

    state = Shown(TEXT, ("idle", "busy", "done"))
    texts = figure_texts(CurveStats.of("state", summarise(np.array([0.0, 2.0, 1.0]))), state)
    assert (texts["min"], texts["max"], texts["last"], texts["mean"]) == ("idle", "done", "busy", "1")

    plain = CurveStats.of("a", summarise(np.array([1.0, 2.0, 4.0])))
    assert stats_line(plain, PLAIN) == (
        f"n 3  min 1  max 4  mean 2.33333  std {np.std([1.0, 2.0, 4.0]):.6g}  last 4")


def peak(spectrum):
    i = int(np.argmax(spectrum.amplitude))
    return spectrum.frequency[i], spectrum.amplitude[i]


def test_the_spectrum_of_a_sine_peaks_at_its_frequency_with_its_amplitude():
    rate, n = 1000.0, 4000
    t = np.arange(n) / rate
    y = 2.5 * np.sin(2 * np.pi * 50 * t) + 0.4 * np.sin(2 * np.pi * 120 * t) + 7.0
    spectrum = amplitude_spectrum(t, y)
    frequency, amplitude = peak(spectrum)
    assert frequency == pytest.approx(50.0, abs=rate / n) and amplitude == pytest.approx(2.5, rel=1e-6)
    second = spectrum.amplitude[np.argmin(np.abs(spectrum.frequency - 120))]
    assert second == pytest.approx(0.4, rel=1e-6)
    assert spectrum.amplitude[0] < 1e-6  # the mean (7) is taken off
    assert spectrum.frequency[-1] == pytest.approx(rate / 2)
    assert spectrum.in_db()[np.argmax(spectrum.amplitude)] == pytest.approx(20 * math.log10(2.5))


def test_an_uneven_or_unordered_x_is_resampled_onto_an_even_grid():
    rng = np.random.default_rng(11)
    n, step = 6000, 1e-3
    t = (np.arange(n) + rng.uniform(-0.2, 0.2, n)) * step + 1.8e9  # jitter, epoch seconds
    t[3000:] += 0.05  # and a gap
    # 40 Hz over the 6.05 s of the grid (padded to 6.075 s) falls on a bin:
    # the Hann window reads amplitudes exactly there (the gap, bridged by a
    # straight line, takes about 2% off).
    y = 1.5 * np.cos(2 * np.pi * 40 * t)
    y[100] = np.nan
    spectrum = amplitude_spectrum(t, y)
    assert spectrum.step == pytest.approx(step, rel=0.02)
    frequency, amplitude = peak(spectrum)
    assert frequency == pytest.approx(40.0, abs=0.2) and amplitude == pytest.approx(1.5, rel=0.03)

    order = rng.permutation(n)  # an X;Y pair whose x does not grow with the row
    shuffled = amplitude_spectrum(t[order], y[order])
    assert np.allclose(shuffled.amplitude, spectrum.amplitude)

    assert amplitude_spectrum(t[:5], y[:5]) is None
    assert amplitude_spectrum(np.full(50, 3.0), np.arange(50.0)) is None  # x stands still


def test_a_range_too_long_for_one_spectrum_averages_stretches_spread_over_it(monkeypatch):
    monkeypatch.setattr(spectra, "MOST_ROWS", 4096)  # stretches of 128 rows
    t = np.arange(20_000.0)
    y = 2.0 * np.sin(2 * np.pi * t * 16 / 128)  # on a bin of a stretch
    parts = stretches(slice(1000, 19_000), len(t))
    assert (len(parts), parts[0][0].start, parts[-1][0].stop) == (STRETCHES, 1000, 19_000)
    frequency, amplitude = peak(averaged([amplitude_spectrum(rows_of(t, part), rows_of(y, part))
                                          for part in parts]))
    assert frequency == pytest.approx(16 / 128) and amplitude == pytest.approx(2.0, rel=1e-6)
    every_other = t % 2 == 0  # a mask's stretches keep only its rows
    assert {len(rows_of(t, part)) for part in stretches(every_other, len(t))} == {64}


def test_transforms_get_a_length_of_small_factors():
    def smooth(m):
        for p in (2, 3, 5):
            while m % p == 0:
                m //= p
        return m == 1
    for n in range(1, 2000):
        size = fast_size(n)
        assert size >= n and smooth(size) and not any(smooth(k) for k in range(n, size))

"""From data set columns to what the curves are fed: formats, labels, the
history's gaps and thinning, and a real plot widget's curves."""

import numpy as np
import pytest

from tarvinel.stelvane import config, ploter
from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.presenters.curves import PlotCurves
from tarvinel.stelvane.model.series import (
    axis_label, detail_window, formatted, zoom_points, history_series, history_series_steps,
    pair_series, peak_decimated)

Z = np.array([3 + 4j, -1 + 0j, 1j])


@pytest.mark.parametrize("fmt, expected", [
    ("real", [3, -1, 0]),
    ("imag", [4, 0, 1]),
    ("mag", [5, 1, 1]),
    ("phase", [np.degrees(np.arctan2(4, 3)), 180, 90]),
    (None, [3, -1, 0]),
])
def test_formats_of_complex_columns(fmt, expected):
    assert np.allclose(formatted(Z, fmt), expected)
    assert formatted(Z, fmt).dtype == np.float64


def test_real_columns_are_shown_without_a_copy():
    values = np.arange(5.0)
    assert formatted(values, "real") is values
    assert np.array_equal(formatted(-values, "mag"), values)


@pytest.mark.parametrize("names, fmt, label", [
    (["time", "time"], "real", "time"),
    (["sine", "cosine", "sine"], None, "sine, cosine"),
    (["S21", "S11"], "mag", "mag(S21), mag(S11)"),
    (["S21"], "phase", "phase(S21) [deg]"),
    ([], "imag", ""),
])
def test_axis_labels(names, fmt, label):
    assert axis_label(names, fmt) == label


def runs_of(*lengths):
    ds = Dataset("points")
    ds.set_column_names(["t", "z"])
    start = 0
    for n in lengths:
        ds.append(np.column_stack([np.arange(start, start + n), 1j * np.arange(n)]))
        ds.roll()
        start += n
    return ds


def segments(x, y):
    """The runs of a history series, split at its gaps."""
    cuts = np.flatnonzero(np.isnan(x))
    return list(zip(np.split(x, cuts), np.split(y, cuts)))


def test_history_joins_runs_with_gaps_and_gives_each_its_share_of_points():
    ds = runs_of(3, 2)
    x, y = history_series(ds.history, ("t", "z"), "real", "imag", 512)
    assert np.array_equal(x, [0, 1, 2, np.nan, 3, 4], equal_nan=True)
    assert np.array_equal(y, [0, 1, 2, np.nan, 0, 1], equal_nan=True)

    # Side by side: a run covering 6/7 of the x extent gets 6/7 of the points
    # (rounded up to a power of two), the short ones the least there is.
    ds = runs_of(500, 6000, 500)
    cache = {}
    x, y = history_series(ds.history, ("t", "z"), "real", "imag", 512, cache)
    parts = segments(x, y)
    assert len(parts) == 3
    assert [part[0][~np.isnan(part[0])][[0, -1]].tolist() for part in parts] == [
        [0, 499], [500, 6499], [6500, 6999]]
    lengths = [np.count_nonzero(~np.isnan(part[0])) for part in parts]
    assert 56 <= lengths[0] <= 64 + 16 and 56 <= lengths[2] <= 64 + 16
    assert 460 <= lengths[1] <= 512 + 24
    for part, run in zip(parts, ds.history):  # every run keeps its extremes
        shown = part[1][~np.isnan(part[1])]
        assert shown.max() == run.column("z").imag.max() and shown.min() == 0

    # Cached: asking again recomputes nothing, and the cache is keyed by run.
    before = dict(cache)
    again = history_series(ds.history, ("t", "z"), "real", "imag", 512, cache)
    assert np.array_equal(again[0], x, equal_nan=True) and cache.keys() == before.keys()
    assert all(value is before[key] for key, value in cache.items())
    assert {key[0] for key in cache} == set(ds.history)

    # On top of each other (the same x): each run gets all the points.
    ds = Dataset("points")
    ds.set_column_names(["s", "v"])
    for k in range(3):
        ds.append(np.column_stack([np.linspace(0, 1, 3000), np.full(3000, float(k))]))
        ds.roll()
    x, _ = history_series(ds.history, ("s", "v"), None, None, 512)
    assert [np.count_nonzero(~np.isnan(p[0])) >= 460 for p in segments(x, x)] == [True] * 3

    assert [len(a) for a in history_series([], ("t", "z"), None, None, 512)] == [0, 0]
    assert [len(a) for a in history_series(ds.history, ("t", "gone"), None, None, 512)] == [0, 0]


def test_a_long_finished_run_is_thinned_to_its_share_tail_included():
    # 100,003 rows into 64 points: the rows after the last full bin (up to a
    # bin's worth) are one more bin, not thousands of exact rows.
    ds = runs_of(100_003)
    x, y = history_series(ds.history, ("t", "z"), "real", "imag", 64)
    assert len(x) <= 64 + 2 and x[-1] == 100_002 and y.max() == 100_002


def test_a_zoomed_window_is_exact_and_runs_outside_it_are_left_out():
    ds = runs_of(10_000, 10_000, 10_000)  # t runs from 0 to 29,999 across the runs
    ds.set_column_names(["t", "z"])  # (same names: nothing changes)
    window = (12_000.0, 14_000.0)
    cache = {}
    x, y = history_series(ds.history, ("t", "z"), "real", "imag", 4096, cache, window)
    # Only the middle run, cut to the window and one row beyond each side,
    # every row of it (4096 points are plenty for 2001 rows).
    assert np.array_equal(x, np.arange(11_999, 14_002)) and np.array_equal(y, x - 10_000)
    # A window moved on forgets the series of the old one; whole runs stay cached.
    history_series(ds.history, ("t", "z"), "real", "imag", 4096, cache, (9_000.0, 21_000.0))
    assert all(len(key) < 6 or key[5] == (9_000.0, 21_000.0) for key in cache)
    assert any(len(key) == 5 and key[0] is ds.history[1] for key in cache)  # wholly inside

    # A run whose x does not grow is shown whole, window or not.
    back = Dataset("points")
    back.set_column_names(["t", "v"])
    back.append(np.column_stack([np.arange(100.0)[::-1], np.arange(100.0)]))
    back.roll()
    x, _ = history_series(back.history, ("t", "v"), None, None, 4096, {}, (10.0, 20.0))
    assert len(x) == 100


def test_history_is_made_a_run_at_a_time_and_the_same_as_at_once():
    ds = runs_of(3000, 3000, 3000)
    cache = {}
    steps = history_series_steps(ds.history, ("t", "z"), "real", "imag", 512, cache)
    pauses = 0
    while True:
        try:
            next(steps)
            pauses += 1
        except StopIteration as finished:
            x, y = finished.value
            break
    assert pauses == 2 * len(ds.history)  # each run's extent, then its thinning
    again = history_series(ds.history, ("t", "z"), "real", "imag", 512)
    assert np.array_equal(x, again[0], equal_nan=True) and np.array_equal(y, again[1], equal_nan=True)
    # All cached: no pause at all.
    assert list(history_series_steps(ds.history, ("t", "z"), "real", "imag", 512, cache)) == []


@pytest.mark.parametrize("pixels, view, data, expected", [
    (500, None, None, 1000),                  # not zoomed: two points per pixel column
    (50, None, None, 400),                    # a narrow plot still gets 200 columns
    (500, (0.0, 50.0), (0.0, 100.0), 2000),   # twice zoomed in: twice the points
    (500, (0.0, 30.0), (0.0, 100.0), 4000),   # 3.3 times: up to the next power of two
    (500, (0.0, 1e-3), (0.0, 100.0), 32000),  # deep in: no more than 2**5 times
    (500, (0.0, 200.0), (0.0, 100.0), 1000),  # zoomed out: no fewer
])
def test_zoom_points_follow_the_zoom_by_powers_of_two(pixels, view, data, expected):
    assert zoom_points(pixels, view, data, 5) == expected


@pytest.mark.parametrize("view, expected_window", [
    ((0.0, 100.0), None),          # the whole data: no window
    ((10.0, 60.0), None),          # twice zoomed in: still the whole data
    ((40.0, 50.0), (25.0, 62.5)),  # 10 times: a window 3 x 12.5 wide around the view
    ((41.0, 51.0), (25.0, 62.5)),  # panned a little: the same window
    ((42.0, 51.0), (25.0, 62.5)),  # zoomed a little: the same window
    ((44.0, 54.0), (31.25, 68.75)),  # panned further: the next window on the grid
])
def test_detail_window_holds_the_view_and_stays_put_for_small_moves(view, expected_window):
    points, window = detail_window(view, (0.0, 100.0), 1000, 5)
    assert window == expected_window
    if window is not None:
        assert window[0] < view[0] and view[1] < window[1] and points == 3 * 2000


def test_peak_decimation_keeps_each_bins_extremes_in_row_order():
    y = np.array([0, 5, 1, 2, -3, 4, 7, 1, 0, 9, 2.0])
    x = -np.arange(11.0)  # x need not grow
    dx, dy = peak_decimated(x, y, 6)
    assert dy.tolist() == [0, 5, -3, 7, 0, 9, 2]  # bins of 4 rows, then the newest rows
    assert dx.tolist() == [0, -1, -4, -6, -8, -9, -10]
    assert peak_decimated(x, y, 11)[1] is y

    rng = np.random.default_rng(3)
    for n, points in [(10_000, 1900), (12_345, 500), (100, 7)]:
        y = rng.standard_normal(n)
        y[n // 3] = np.nan
        x = np.arange(n)
        dx, dy = peak_decimated(x, y, points)
        assert len(dx) <= points + n // (points // 2) + 1
        assert np.all(np.diff(dx) >= 0) and dx[-1] == n - 1  # a NaN bin keeps one row twice
        assert np.array_equal(dy, y[dx], equal_nan=True)
        assert np.nanmin(dy) == np.nanmin(y) and np.nanmax(dy) == np.nanmax(y)
        assert np.isnan(dy).any()  # the gap stays


def test_live_series_takes_the_newest_rows_and_skips_unknown_names():
    ds = runs_of()
    ds.append(np.column_stack([np.arange(10.0), np.arange(10.0)]))
    x, y = pair_series(ds, ("t", "z"), "real", "real", last=4)
    assert x.tolist() == [6, 7, 8, 9]
    assert pair_series(ds, ("t", "nope"), None, None) is None


def test_plot_curves_fill_matched_curves_and_empty_the_rest(qtbot):
    plot = ploter.PlotWidget()
    qtbot.addWidget(plot)
    keys = list(config.ridx)
    calls = []
    plot.set_data = lambda key, x, y: (calls.append(key), ploter.PlotWidget.set_data(plot, key, x, y))
    curves = PlotCurves(plot, keys, symbol_points=5)
    symbol = plot.plots[keys[0]].opts["symbol"]
    assert symbol is not None
    assert not any(plot.plots[key].isVisible() for key in keys)  # empty: left out of the fit

    short, long = np.arange(3.0), np.arange(50.0)
    curves.show([(short, short), None, (long, long)])
    assert calls == [keys[0], keys[2]]
    assert [key for key in keys if plot.plots[key].isVisible()] == [keys[0], keys[2]]
    assert plot.plots[keys[0]].opts["symbol"] == symbol  # few points: symbols as styled
    assert plot.plots[keys[2]].opts["symbol"] is None    # dense: the line alone
    assert plot.plots[keys[2]].opts["pen"] is not None
    calls.clear()
    curves.show([(short, short)])
    assert calls == [keys[0], keys[2]]  # the dropped curve is emptied once
    assert plot.plots[keys[2]].xData is None or len(plot.plots[keys[2]].xData) == 0
    assert not plot.plots[keys[2]].isVisible()
    calls.clear()
    curves.show([(short, short)])
    assert calls == [keys[0]]
    curves.show([(short, short), (short, short), (short, short)])
    assert plot.plots[keys[2]].opts["symbol"] == symbol

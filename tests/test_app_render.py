"""From data set columns to what the curves are fed: formats, labels, the
history's gaps and thinning, and a real plot widget's curves."""

import numpy as np
import pytest

from tarvinel.stelvane import config, ploter
from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.render import (
    CurveFeeder, axis_label, formatted, history_series, pair_series)

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


def test_history_joins_runs_with_gaps_and_thins_long_ones():
    ds = runs_of(3, 10, 2)
    x, y = history_series(ds.history, ("t", "z"), "real", "imag", limit=4)
    # Runs of 3 and 2 rows stay whole; the run of 10 keeps every third row.
    nan = np.nan
    assert np.array_equal(x, [0, 1, 2, nan, 3, 6, 9, 12, nan, 13, 14], equal_nan=True)
    assert np.array_equal(y, [0, 1, 2, nan, 0, 3, 6, 9, nan, 0, 1], equal_nan=True)
    assert [len(a) for a in history_series([], ("t", "z"), None, None)] == [0, 0]
    assert [len(a) for a in history_series(ds.history, ("t", "gone"), None, None)] == [0, 0]


def test_live_series_takes_the_newest_rows_and_skips_unknown_names():
    ds = runs_of()
    ds.append(np.column_stack([np.arange(10.0), np.arange(10.0)]))
    x, y = pair_series(ds, ("t", "z"), "real", "real", last=4)
    assert x.tolist() == [6, 7, 8, 9]
    assert pair_series(ds, ("t", "nope"), None, None) is None


def test_feeder_fills_matched_curves_and_empties_the_rest(qtbot):
    plot = ploter.PlotWidget()
    qtbot.addWidget(plot)
    keys = list(config.ridx)
    calls = []
    plot.set_data = lambda key, x, y: (calls.append(key), ploter.PlotWidget.set_data(plot, key, x, y))
    feeder = CurveFeeder(plot, keys, symbol_points=5)
    symbol = plot.plots[keys[0]].opts["symbol"]
    assert symbol is not None

    short, long = np.arange(3.0), np.arange(50.0)
    feeder.show([(short, short), None, (long, long)])
    assert calls == [keys[0], keys[2]]
    assert plot.plots[keys[0]].opts["symbol"] == symbol  # few points: symbols as styled
    assert plot.plots[keys[2]].opts["symbol"] is None    # dense: the line alone
    assert plot.plots[keys[2]].opts["pen"] is not None
    calls.clear()
    feeder.show([(short, short)])
    assert calls == [keys[0], keys[2]]  # the dropped curve is emptied once
    assert plot.plots[keys[2]].xData is None or len(plot.plots[keys[2]].xData) == 0
    calls.clear()
    feeder.show([(short, short)])
    assert calls == [keys[0]]
    feeder.show([(short, short), (short, short), (short, short)])
    assert plot.plots[keys[2]].opts["symbol"] == symbol

"""The cursors' readings of a curve against numpy on the same rows: the
nearest sample with a value, found by bisection where X grows as by a look
at every row, through long gaps and beyond the ends; and the mean between
the cursors over blocks, those a block's known extent rules out skipped."""

import math

import numpy as np
import pytest

from tarvinel.stelvane.model.columnkinds import PLAIN
from tarvinel.stelvane.model.cursors import BlockGrowth, measure, nearest_value
from tarvinel.stelvane.model.statistics import CurveRows, RowBlock


@pytest.fixture
def gappy():
    """500 rows of growing X with a stretch of 300 missing values and scattered ones."""
    x = np.arange(500) * 0.1
    y = np.sin(x) * 10
    y[100:400] = np.nan
    y[[3, 4, 450, 499]] = np.nan
    x[420] = np.nan
    return x, y


def by_numpy(x, y, at):
    ok = np.isfinite(x) & np.isfinite(y)
    if not x[ok].min() <= at <= x[ok].max():
        return None
    distance = np.abs(x[ok] - at)
    return y[ok][np.flatnonzero(distance == distance.min())[-1]]


def test_the_nearest_sample_is_found_alike_by_bisection_and_by_every_row(gappy):
    x, y = gappy
    growing = np.arange(500) * 0.1  # no missing X: bisection applies
    places = [-1.0, 0.0, 0.35, 9.95, 10.0, 25.0, 39.96, 42.0, 49.75, 49.8, 60.0]
    for at in places + np.linspace(-0.5, 50.5, 103).tolist():
        assert nearest_value(growing, y, at, grows=True) == by_numpy(growing, y, at)
        assert nearest_value(x, y, at, grows=False) == by_numpy(x, y, at)


def test_the_mean_between_the_cursors_spans_the_blocks_that_reach_between(gappy):
    x, y = gappy
    parts = [RowBlock(x[:250], y[:250], key="first", low=0.0, high=24.9),
             RowBlock(x[250:], y[250:], key=None)]
    curve = CurveRows(0, ("t", "v"), "v", PLAIN, parts)
    kept = BlockGrowth()
    for a, b in ((42.0, 5.0), (1.0, 9.0), (45.0, 49.0), (12.0, 38.0)):
        reading = measure([curve], a, b, kept)[0]
        between = y[(x >= min(a, b)) & (x <= max(a, b)) & np.isfinite(y)]
        assert (reading.at_a, reading.at_b) == (by_numpy(x, y, a), by_numpy(x, y, b))
        if len(between):
            assert reading.mean == pytest.approx(between.mean(), rel=1e-12)
        else:
            assert math.isnan(reading.mean)
        assert reading.delta_y == pytest.approx(reading.at_b - reading.at_a)
    assert list(kept.kept) == [("first", ("t", "v"))]  # a finished block looked at once
    only_a = measure([curve], 3.0, None)[0]
    assert only_a.at_b is None and math.isnan(only_a.delta_y) and math.isnan(only_a.mean)

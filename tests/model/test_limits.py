"""Limit lines' crossings against a plain walk over the same rows: split into
blocks at every place, with gaps, touches and a run of values on the line;
and the limits --limit and the editor refuse."""

import numpy as np
import pytest

from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.model.limits import (CrossingCount, Limit, LimitError, RunCrossings,
                                            crossing_x, parse_limit)

from tests.support.crossings import walked


@pytest.fixture
def wavy():
    """60 rows of a noisy sine around 0.5, with gaps, touches of 0.5 and a stretch on it."""
    rng = np.random.default_rng(7)
    x = np.arange(60) * 0.25
    y = 0.5 + np.sin(x) + rng.normal(0, 0.3, 60)
    y[[5, 17, 18]] = np.nan
    x[29] = np.nan
    y[[10, 40, 41, 42]] = 0.5
    return x, y


def test_the_crossings_are_those_of_a_walk_over_the_rows(wavy):
    x, y = wavy
    expected = walked(x, y, 0.5)
    assert len(expected) >= 5
    assert crossing_x(x, y, 0.5).tolist() == pytest.approx(expected, rel=1e-15)
    # Touching the line and turning back is no crossing; passing through is one.
    assert walked(np.arange(3.0), np.array([0.0, 1.0, 0.0]), 1.0) == []
    assert crossing_x(np.arange(3.0), np.array([0.0, 1.0, 0.0]), 1.0).tolist() == []
    assert crossing_x(np.arange(3.0), np.array([0.0, 1.0, 2.0]), 1.0).tolist() == [1.0]


def test_blocks_split_anywhere_count_as_the_whole_rows(wavy):
    x, y = wavy
    expected = walked(x, y, 0.5)
    for first in range(len(x) + 1):
        for second in (first, (first + len(x)) // 2, len(x)):
            count = CrossingCount(0.5)
            for start, end in ((0, first), (first, max(first, second)), (max(first, second), len(x))):
                count.add(x[start:end], y[start:end])
            assert count.count == len(expected)
            assert list(count.marks) == pytest.approx(expected, rel=1e-15)
            assert (count.first, count.last) == pytest.approx((expected[0], expected[-1]))


def test_a_run_is_counted_as_its_rows_arrive_and_afresh_in_a_new_run(wavy):
    x, y = wavy
    data = Dataset("points", max_rows=1000)
    data.set_column_names(["t", "v"])
    watched = RunCrossings(Limit("v", 0.5))
    for start in range(0, 60, 7):
        data.append(np.column_stack([x[start:start + 7], y[start:start + 7]]))
        watched.update(data, "t")
    expected = walked(x, y, 0.5)
    assert watched.as_dict() == {"curve": "v", "value": 0.5, "x": "t", "crossings": len(expected),
                                 "first": pytest.approx(expected[0]),
                                 "last": pytest.approx(expected[-1])}
    data.roll()
    data.append(np.array([[0.0, 0.0], [1.0, 1.0]]))
    watched.update(data, "t")
    assert (watched.count.count, watched.count.first) == (1, 0.5)
    watched.update(data, None)  # the curve no longer drawn: nothing to count against
    assert watched.as_dict()["crossings"] == 0 and watched.as_dict()["x"] is None


@pytest.mark.parametrize("text, message", [
    ("volts", "'volts' is no NAME=VALUE (e.g. volts=4.5)"),
    ("=3", "'=3' is no NAME=VALUE (e.g. volts=4.5)"),
    ("volts=high", "volts: 'high' is no number"),
    ("volts=nan", "volts: a limit is a finite number, not nan"),
])
def test_a_limit_that_is_none_is_refused_with_the_reason(text, message):
    with pytest.raises(LimitError) as refused:
        parse_limit(text)
    assert str(refused.value) == message
    assert parse_limit(" a = b = -2.5e3 ") == Limit("a = b", -2500.0)

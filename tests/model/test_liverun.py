"""The rows the live plot draws of a growing run: its window while it
follows, the run from memory where the user took the view, thinned from a
table that grows with the run, whatever the data set drops or a pause holds."""

import numpy as np

from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.model.hold import HeldData
from tarvinel.stelvane.model.liverun import LiveRun, LiveView
from tarvinel.stelvane.model.timewindow import ROWS, parse_window

PAIR = ("t", "v")


def grown(rows, max_rows=1_000_000, step=0.01, block=10_000):
    """A data set fed `rows` rows of t (growing by `step`) and a random walk, a block at a time."""
    ds = Dataset("points", max_rows=max_rows)
    ds.set_column_names(list(PAIR))
    walk = np.random.default_rng(7).standard_normal(rows).cumsum()
    for first in range(0, rows, block):
        n = min(block, rows - first)
        ds.append(np.column_stack([step * np.arange(first, first + n), walk[first:first + n]]))
    return ds


def test_following_shows_the_window_and_falls_back_to_rows_where_x_does_not_grow():
    ds, run = grown(50_000), LiveRun()

    def following(text, data=ds):
        return run.rows(data, "P", PAIR, None, LiveView(parse_window(text), 1_000, 2_000))
    t = ds.column("t")
    assert following("rows") == (49_000, 50_000, 2_000)
    assert following("250 rows") == (49_750, 50_000, 2_000)
    first, last, _ = following("10s")
    assert last == 50_000 and t[first] >= t[-1] - 10 > t[first - 1]
    assert run.rows(ds, "P", ("t", "nothing"), None, LiveView(ROWS, 1_000, 2_000)) is None
    # One step back in X: a span is no stretch of rows any more.
    ds.append([[t[-1] - 1.0, 0.0]])
    assert following("10s") == (49_001, 50_001, 2_000)
    again = grown(3_000)
    again.append([[np.nan, 0.0]])  # a missing X as well
    assert following("10s", again) == (2_001, 3_001, 2_000)


def test_a_view_taken_back_shows_the_run_from_memory():
    ds, run = grown(200_000), LiveRun()

    def panned(view, pair=PAIR):
        return run.rows(ds, "P", pair, None, LiveView(ROWS, 1_000, 2_000, view, 1_000, 5))
    assert panned((0.0, 1_500.0)) == (0, 200_000, 4_000)  # hardly zoomed: all of it, in detail
    first, last, points = panned((100.0, 110.0))  # deep in: three views around the view
    t = ds.column("t")
    assert t[first] <= 100.0 and t[last - 1] >= 110.0 and last - first < 200_000 / 20
    assert points == 6_000


def test_thinned_rows_keep_the_extremes_and_newest_rows_frame_after_frame():
    ds, run = grown(300_000, max_rows=250_000), LiveRun()
    view = LiveView(ROWS, 1_000, 2_000, (0.0, 10_000.0), 1_000, 5)
    for more in range(4):
        newest = 3_000 + 2 * more + 1.5
        ds.append(np.column_stack([newest - 1.5 + np.arange(1_000) / 1_000, np.zeros(1_000)]))
        ds.append([[newest, 50.0 + more]])  # a spike at the newest row
        rows = run.rows(ds, "P", PAIR, None, view)
        assert rows[:2] == (0, len(ds)) and ds.dropped == 300_000 - 250_000 + 1_001 * (more + 1)
        x, v = run.series(ds, PAIR, None, None, rows)
        assert len(x) < 3 * rows[2] and np.all(np.diff(x) >= 0)
        values = ds.column("v")
        assert (v.max(), v.min(), x[-1]) == (values.max(), values.min(), newest)
    assert run.tables[("v", None)].first_bin * 128 >= ds.dropped  # the dropped rows' bins left
    # A pause holds rows cut short: drawn from the same table, nothing newer.
    held = HeldData(ds)
    ds.append([[9_000.0, -1e9]])
    x, v = run.series(held, PAIR, None, None, run.rows(held, "P", PAIR, None, view))
    assert x[-1] == newest and v.min() > -1e9

"""Finished runs thinned from their table of extremes: the same rows as
thinning the rows themselves, gaps kept, and a new zoom level that reads
next to none of the run's rows."""
import numpy as np
import pytest

from tarvinel.stelvane.levels import BIN, ExtremesTable
from tarvinel.stelvane.render import peak_decimated

ROWS = BIN * 64 * 10


@pytest.fixture
def column():
    values = np.random.default_rng(3).standard_normal(ROWS).cumsum()
    values[[5, 40_000, 40_001, ROWS - 1]] = np.nan
    return values


def reader(values, reads):
    def part(first, last):
        reads.append(last - first)
        return values[first:last]
    return part


def test_whole_bins_keep_the_rows_thinning_the_rows_keeps(column):
    # 160 points: bins of 1024 rows, eight table bins each.
    rows = ExtremesTable(column).thinned(reader(column, []), slice(None), 160)
    _, expected = peak_decimated(np.arange(ROWS), column, 160, exact_tail=False)
    assert np.array_equal(column[rows], expected, equal_nan=True)
    assert np.isnan(column[rows]).sum() == 2 * 3  # each NaN's bin shows it (two share one)


@pytest.mark.parametrize("rows, points", [
    (slice(None), 512), (slice(12_345, 70_001), 1000), (slice(333, 9_000), 4096), (slice(77, 80), 64),
])
def test_any_cut_keeps_its_extremes_in_row_order_within_its_points(column, rows, points):
    kept = ExtremesTable(column).thinned(reader(column, []), rows, points)
    first, last, _ = rows.indices(ROWS)
    shown = column[first:last]
    assert first <= kept.min() and kept.max() < last and np.all(np.diff(kept) >= 0)
    assert len(kept) <= max(points, last - first) + 4
    finite = column[kept][~np.isnan(column[kept])]
    assert finite.max() == np.nanmax(shown) and finite.min() == np.nanmin(shown)


def test_a_new_zoom_level_reads_only_the_rows_at_the_cut_s_edges(column):
    table = ExtremesTable(column)
    reads = []
    for points in (256, 512, 1000):  # bins of 5, 3 and 2 table bins
        table.thinned(reader(column, reads), slice(1_000, ROWS - 999), points)
    # Each level reads the rows before the first whole table bin and the
    # last bin's worth, not the 80,000 rows between.
    assert sum(reads) < 3 * 8 * BIN

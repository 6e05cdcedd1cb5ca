"""Finished runs thinned from their table of extremes: the same rows as
thinning the rows themselves, gaps kept, and a new zoom level that reads
next to none of the run's rows."""
import numpy as np
import pytest

from tarvinel.stelvane.model.extremes import BIN, ExtremesTable
from tarvinel.stelvane.model.series import peak_decimated

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


def test_a_table_extended_as_a_run_grows_and_drops_thins_as_one_made_at_once(column):
    table = ExtremesTable(offset=0)
    # Frames of uneven size; from row 30,000 on the run keeps its newest
    # 20,000 rows only (the older ones leave, as a data set drops them).
    end = 0
    for size in (5, 1_000, 127, 20_000, 333, 30_000, 12_800, 7):
        end += size
        first = max(0, end - 20_000) if end > 30_000 else 0
        table.forget(first)
        new = max(first, table.end_bin * BIN)
        table.extend(column[new:end], new)
        assert table.matches(lambda a, b: column[a:b], end)
    made_at_once = ExtremesTable(column[first:end], first)
    assert (table.first_bin, table.end_bin) == (made_at_once.first_bin, made_at_once.end_bin)
    assert np.array_equal(table.high, made_at_once.high)
    part = reader(column, [])
    for rows, points in ((slice(first, end), 300), (slice(first + 1_000, end - 77), 1000)):
        kept = table.thinned(part, rows, points, exact_tail=True)
        assert np.array_equal(kept, made_at_once.thinned(part, rows, points, exact_tail=True))
        assert kept[0] >= rows.start and np.all(np.diff(kept) > 0)
        # Thinned from the table (300 points: bins of two table bins), the
        # rows after the last table bin are all kept; the extremes are there.
        newest = rows.stop - rows.stop // BIN * BIN
        assert points != 300 or np.array_equal(kept[-newest:],
                                               np.arange(rows.stop - newest, rows.stop))
        shown = column[rows]
        assert np.nanmax(column[kept]) == np.nanmax(shown)
        assert np.nanmin(column[kept]) == np.nanmin(shown)
    # Other rows under the same table are told apart.
    assert not table.matches(lambda a, b: column[a:b] + 1, end)

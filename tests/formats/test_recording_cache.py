"""The columnar cache and its min/max index: columns written as rows
arrive, memory-mapped when read, reused while the file is unchanged, capped
in size; the index thins a column as the window's thinning does."""

import os

import numpy as np
import pytest

from tarvinel.stelvane.formats.recordings import cache as cache_module
from tarvinel.stelvane.formats.recordings.cache import (CacheFull, ColumnarCache, NotCacheable,
                                                         cache_root)
from tarvinel.stelvane.formats.recordings.extremesindex import (FIRST_BIN, level_bin, thinned,
                                                                 thinned_rows)
from tarvinel.stelvane.model.extremes import peak_rows


@pytest.fixture
def recording_file(tmp_path):
    path = tmp_path / "run.csv"
    path.write_text("t,v\n1,2\n")
    return path


def write_entry(cache, path, columns, block_rows=1000):
    writer = cache.writer(str(path))
    writer.columns([f"c{j}" for j in range(len(columns))])
    rows = np.column_stack(columns)
    for start in range(0, len(rows), block_rows):
        writer.rows(rows[start:start + block_rows])
    return writer.finish()


def test_cache_root_follows_xdg_cache_home(monkeypatch, tmp_path):
    monkeypatch.setenv("XDG_CACHE_HOME", str(tmp_path))
    assert cache_root() == str(tmp_path / "tarvinel-stelvane")
    monkeypatch.delenv("XDG_CACHE_HOME")
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    assert cache_root() == str(tmp_path / "home" / ".cache" / "tarvinel-stelvane")


def test_an_entry_is_mapped_and_reused_until_the_file_changes(tmp_path, recording_file):
    cache = ColumnarCache(str(tmp_path / "cache"))
    assert cache.lookup(str(recording_file)) is None
    values = np.arange(5000.0)
    entry = write_entry(cache, recording_file, [values, -values])
    again = cache.lookup(str(recording_file))
    assert again is not None and again.rows == 5000 and again.names == ["c0", "c1"]
    column = again.column(1)
    assert isinstance(column, np.memmap) and not column.flags.writeable
    np.testing.assert_array_equal(column, -values)
    assert entry.folder == again.folder
    recording_file.write_text("t,v\n1,2\n3,4\n")
    assert cache.lookup(str(recording_file)) is None
    assert [name for name in os.listdir(tmp_path / "cache")] == [os.path.basename(entry.folder)]


def test_an_abandoned_conversion_leaves_nothing(tmp_path, recording_file):
    cache = ColumnarCache(str(tmp_path / "cache"))
    writer = cache.writer(str(recording_file))
    writer.columns(["a"])
    writer.rows(np.ones((10, 1)))
    with pytest.raises(NotCacheable):
        writer.roll()
    writer.abandon()
    assert os.listdir(tmp_path / "cache") == []
    assert cache.lookup(str(recording_file)) is None


def test_the_cap_evicts_the_least_recently_used_and_refuses_what_cannot_fit(tmp_path):
    files = []
    for name in "abc":
        files.append(tmp_path / f"{name}.csv")
        files[-1].write_text(name)
    cache = ColumnarCache(str(tmp_path / "cache"), cap=300_000)
    for path in files[:2]:
        write_entry(cache, path, [np.arange(10_000.0)])  # ~85 kB each with the index
    os.utime(os.path.join(cache.lookup(str(files[0])).folder, "manifest.json"), (1, 1))
    write_entry(cache, files[2], [np.arange(20_000.0)])
    assert cache.lookup(str(files[0])) is None  # used longest ago: made room
    assert cache.lookup(str(files[1])) is not None and cache.lookup(str(files[2])) is not None
    writer = cache.writer(str(files[0]))
    writer.columns(["a"])
    writer.ROOM_STEP = 0
    with pytest.raises(CacheFull, match="cap of .* GB is reached"):
        writer.rows(np.ones((50_000, 1)))
    writer.abandon()


def peak_of(values, first, last, points):
    """What the window's thinning keeps of rows [first, last): their own peaks."""
    size = -(-(last - first) // max(2, points // 2))
    return first + peak_rows(values[first:last], size)


@pytest.mark.parametrize("rows", [FIRST_BIN * 16 * 16 * 3 + 77, 200_000])
def test_the_index_keeps_the_extremes_of_every_view(tmp_path, recording_file, rows):
    rng = np.random.default_rng(7)
    values = rng.standard_normal(rows).cumsum()
    values[rows // 3] = 1e6  # a spike and a hole the index must keep
    values[rows // 2] = np.nan
    entry = write_entry(ColumnarCache(str(tmp_path / "cache")), recording_file, [values],
                        block_rows=999)
    levels = entry.index(0)
    assert len(levels) >= 3 and len(levels[-1]) == 1
    column = entry.column(0)
    for first, last, points in [(0, rows, 600), (0, rows, 300), (1234, rows - 999, 500),
                                (rows // 8, rows // 8 + 40 * level_bin(1), 40)]:
        kept, kept_values = thinned(levels, lambda a, b: column[a:b], first, last, points, rows)
        np.testing.assert_array_equal(kept_values, values[kept])  # from the index
        assert np.all(np.diff(kept) >= 0)
        assert first <= kept.min() and kept.max() < last
        window = values[first:last]
        shown = values[kept]
        assert np.isnan(shown).any() == np.isnan(window).any()
        finite = window[np.isfinite(window)]
        assert np.nanmax(shown) == finite.max() and np.nanmin(shown) == finite.min()
        assert len(kept) <= 2 * len(peak_of(values, first, last, points)) + 4
    assert thinned_rows(levels, lambda a, b: column[a:b], 0, 1000, 500, rows) is None


def test_the_index_of_an_exact_view_matches_the_window_thinning(tmp_path, recording_file):
    values = np.random.default_rng(3).standard_normal(FIRST_BIN * 4096)
    entry = write_entry(ColumnarCache(str(tmp_path / "cache")), recording_file, [values])
    points = 2 * 4096 // 16  # bins of exactly one level-1 index bin
    kept = thinned_rows(entry.index(0), lambda a, b: values[a:b], 0, len(values), points,
                        len(values))
    np.testing.assert_array_equal(kept, peak_of(values, 0, len(values), points))

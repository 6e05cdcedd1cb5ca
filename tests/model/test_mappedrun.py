"""A data set's current run memory-mapped from the columnar cache: every
row kept whatever --max-rows says, thinned from the index on disk, and back
to memory (the drop counted) once rows arrive beyond --max-rows."""

import numpy as np
import pytest

from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.formats.recordings.cache import ColumnarCache
from tarvinel.stelvane.model import mappedrun
from tarvinel.stelvane.model.derivedcolumns import derive_in
from tarvinel.stelvane.model.expressions import parse_definition
from tarvinel.stelvane.model.liverun import LiveRun, LiveView
from tarvinel.stelvane.model.spill import SpillRoom
from tarvinel.stelvane.model.series import peak_decimated
from tarvinel.stelvane.model.timewindow import ROWS
from tarvinel.stelvane.protocol import NUMBER, TEXT, Columns, TextRows

ROW_COUNT = 300_000
SPIKE_AT = 123_457


@pytest.fixture
def entry(tmp_path):
    """A cache entry of t (growing) and a random walk with one spike."""
    source = tmp_path / "walk.csv"
    source.write_text("t,v\n")
    writer = ColumnarCache(str(tmp_path / "cache")).writer(str(source))
    writer.columns(["t", "v"])
    v = np.random.default_rng(11).standard_normal(ROW_COUNT).cumsum()
    v[SPIKE_AT] = 1e4
    for first in range(0, ROW_COUNT, 50_000):
        t = np.arange(first, first + 50_000) * 0.01
        writer.rows(np.column_stack([t, v[first:first + 50_000]]))
    return writer.finish()


@pytest.fixture
def mapped(entry):
    data = Dataset("points", max_rows=1_000)
    data.set_column_names(["t", "v"])
    data.map_columns([entry.column(0), entry.column(1)], entry.index)
    return data


def test_a_mapped_run_keeps_every_row_read_only(mapped, entry):
    assert len(mapped) == ROW_COUNT and mapped.dropped == 0 and mapped.rows_stored == ROW_COUNT
    v = mapped.column("v")
    assert v[SPIKE_AT] == 1e4 and not v.flags.writeable
    assert mapped.extremes_index("v") is not None
    with pytest.raises(ValueError, match="1 columns mapped, 2 named"):
        mapped.map_columns([entry.column(0)])


def test_mapped_rows_take_the_place_of_their_first_rows_shown_meanwhile():
    data = Dataset("points")
    data.set_column_names(Columns(["t", "state"], [NUMBER, TEXT]))
    data.append(TextRows(np.array([[0.0, 0.0], [1.0, 1.0]]), {1: ["idle", "busy"]}))
    whole = [np.arange(4.0), np.array([0.0, 1.0, 2.0, 0.0])]
    data.map_columns(whole, None, {1: ["idle", "busy", "off"]}, replace=True)
    assert (len(data), data.rows_stored, data.history) == (4, 4, ())
    assert data.described.words[1] == ["idle", "busy", "off"]  # each word once


def test_the_live_plot_thins_a_mapped_run_from_its_index(mapped):
    run = LiveRun()
    whole = LiveView(ROWS, 1_000, 2_000, whole=True)
    rows = run.rows(mapped, "P", ("t", "v"), None, whole)
    assert rows == (0, ROW_COUNT, 2_000)
    x, y = run.series(mapped, ("t", "v"), None, None, rows)
    assert run.tables == {}  # no table of extremes made: no pass over the rows
    v = mapped.column("v")
    assert y.max() == 1e4 and y.min() == v.min() and len(y) <= 2_000 + 4
    assert np.all(np.diff(x) > 0)
    # Zoomed in: the rows of the view, read from the map, as any run's.
    view = LiveView(ROWS, 1_000, 2_000, (1_234.0, 1_236.0), 1_000, 10)
    first, last, points = run.rows(mapped, "P", ("t", "v"), None, view)
    x, y = run.series(mapped, ("t", "v"), None, None, (first, last, points))
    t = mapped.column("t")
    assert last - first < ROW_COUNT // 100
    np.testing.assert_array_equal(y, peak_decimated(t[first:last], v[first:last], points)[1])


def test_derived_series_of_a_mapped_run_go_to_disk_and_thin_from_their_index(
        entry, tmp_path, monkeypatch):
    monkeypatch.setattr(mappedrun, "DERIVED_CHUNK", 70_000)  # chunks end mid-window
    made = []
    for room in (None, SpillRoom(str(tmp_path / "spill"))):
        data = Dataset("points", max_rows=1_000)
        data.spill_room = room
        derive_in([data], [parse_definition("smooth=moving_average(v, 100)"),
                           parse_definition("w=2*v")])
        data.set_column_names(["t", "v"])
        data.map_columns([entry.column(0), entry.column(1)], entry.index)
        made.append(data)
    in_memory, on_disk = made
    assert isinstance(on_disk.column("smooth"), np.memmap) and in_memory.extremes_index("w") is None
    np.testing.assert_allclose(on_disk.column("smooth"), in_memory.column("smooth"))
    run = LiveRun()
    rows = run.rows(on_disk, "P", ("t", "w"), None, LiveView(ROWS, 1_000, 2_000, whole=True))
    run.series(on_disk, ("t", "w"), None, None, rows)
    assert run.tables == {} and on_disk.extremes_index("w")[-1][0, 3] == 2e4  # from the index
    on_disk.set_derived([parse_definition("w=3*v")])  # added to the open recording: indexed too
    assert on_disk.extremes_index("w")[-1][0, 3] == 3e4
    assert list((tmp_path / "spill").iterdir()) == []  # the files went with their maps' names


def test_rows_beyond_max_rows_after_a_mapped_run_go_to_memory_dropped_and_counted(mapped):
    last_t = float(mapped.column("t")[-1])
    mapped.append(np.array([[last_t + 1, 5.0], [last_t + 2, 6.0]]))
    assert len(mapped) == 1_000 and mapped.dropped == ROW_COUNT + 2 - 1_000
    assert mapped.column("v")[-1] == 6.0 and mapped.column("v")[-3] == mapped.column("v")[-3]
    assert mapped.extremes_index("v") is None  # the index is of the mapped rows only


def test_a_rising_mapped_column_is_known_to_rise_without_a_look(mapped, monkeypatch):
    from tarvinel.stelvane.model import growth
    t, v = mapped.column("t"), mapped.column("v")
    monkeypatch.setattr(np, "all", None)  # no pass over the rows: it would fail here
    assert growth.grows(t) and growth.grows(t[1000:2000])
    monkeypatch.undo()
    assert not growth.grows(t[::-1]) and not growth.grows(v)


def test_long_columns_are_looked_at_and_summed_up_in_stretches(monkeypatch):
    from tarvinel.stelvane.formats.recordings import cache
    from tarvinel.stelvane.model import growth, statistics
    values = np.random.default_rng(5).standard_normal(10_001)
    values[77] = np.nan
    whole = statistics.summarise(values)
    rising = np.arange(10_001.0)
    monkeypatch.setattr(statistics, "STRETCH", 1000)
    monkeypatch.setattr(cache, "STRETCH", 1000)
    stretched = statistics.summarise(values)
    assert (stretched.count, stretched.low, stretched.high, stretched.last) == \
        (whole.count, whole.low, whole.high, whole.last)
    assert stretched.mean == pytest.approx(whole.mean) and stretched.m2 == pytest.approx(whole.m2)
    assert growth.grows(rising)
    rising[5_000] = 0  # one step back, in the middle of a stretch
    assert not growth.grows(rising)
    rising[5_000], rising[2_000] = 5_000, 1_999.5  # at a stretch's border: still rising
    assert growth.grows(rising)
    rising[2_000] = 1_998.5
    assert not growth.grows(rising)


def resident_file_kb() -> int:
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("RssFile"))


def test_a_pass_over_a_long_mapped_column_gives_its_pages_back(tmp_path, monkeypatch):
    from tarvinel.stelvane.model import statistics
    source = tmp_path / "long.csv"
    source.write_text("v\n")
    writer = ColumnarCache(str(tmp_path / "cache")).writer(str(source))
    writer.columns(["v"])
    writer.rows(np.random.default_rng(2).standard_normal((4_000_000, 1)))  # 32 MB
    column = writer.finish().column(0)
    monkeypatch.setattr(statistics, "STRETCH", 1 << 18)
    before = resident_file_kb()
    summary = statistics.summarise(column)
    assert resident_file_kb() - before < 8_000  # not the 32 MB it read
    assert summary.count == 4_000_000 and summary.high == column.max()
    assert resident_file_kb() - before > 30_000  # read whole by numpy: all of it counted
    assert statistics.summarise(column) == summary  # read again: the same values

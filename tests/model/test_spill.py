"""A live run longer than max_rows goes on on disk: every row kept in files
that go with the process, within the disk cap; past it the run keeps its
newest rows in memory and says why."""

import gc
import warnings

import numpy as np
import pytest

from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.model.expressions import parse_definition
from tarvinel.stelvane.model.spill import SpillRoom

ROW_BYTES = 16  # two float64 columns


@pytest.fixture
def spilling(tmp_path):
    def make(cap=10 ** 7, max_rows=100):
        data = Dataset("points", max_rows=max_rows, max_history=2)
        data.spill_room = SpillRoom(str(tmp_path / "spill"), cap)
        data.set_column_names(["t", "v"])
        return data
    return make


def fill(data, first, count, block=37):
    for start in range(first, first + count, block):
        rows = np.arange(start, min(start + block, first + count), dtype=float)
        data.append(np.column_stack([rows, 2 * rows]))


def test_a_run_beyond_max_rows_keeps_every_row_on_disk_and_leaves_no_file(spilling, tmp_path):
    data = spilling()
    fill(data, 0, 5000)
    assert len(data) == 5000 and data.dropped == 0
    assert np.array_equal(data.column("t"), np.arange(5000.0))
    assert np.array_equal(data.column("v"), 2 * np.arange(5000.0))
    assert data.spill_room.used >= 5000 * ROW_BYTES
    assert list((tmp_path / "spill").iterdir()) == []  # unlinked as made
    data.roll()  # the finished run keeps its rows on disk, until it leaves the history
    fill(data, 0, 10)
    assert len(data.history[0]) == 5000
    for _ in range(3):
        data.roll()
        fill(data, 0, 10)
    gc.collect()
    assert data.spill_room.used == 0


def test_past_the_cap_a_run_keeps_its_newest_rows_and_says_why(spilling):
    data = spilling(cap=3000 * ROW_BYTES)
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        fill(data, 0, 5000)
        gc.collect()  # the files the run left go closed, not with a warning
    assert not [w for w in said if issubclass(w.category, ResourceWarning)]
    assert len(data) == 100 and data.dropped == 4900
    assert data.column("t")[-1] == 4999 and data.dropped_because.startswith("the disk cap of")
    data.roll()  # room again for the next run
    fill(data, 0, 2000)
    assert (len(data), data.dropped) == (2000, 0) and data.dropped_because == "--max-rows 100"


def test_complex_values_and_derived_series_in_a_run_on_disk(spilling):
    data = spilling()
    fill(data, 0, 1000)
    data.append(np.array([[1000, 3 + 4j]]))
    data.set_derived([parse_definition("m=abs(v)")])
    fill(data, 1001, 999)
    v, m = data.column("v"), data.column("m")
    assert len(v) == 2000 and v[1000] == 3 + 4j and v[1001] == 2002
    assert np.allclose(m, np.abs(v)) and data.dropped == 0


def test_a_column_turned_complex_on_a_full_disk_keeps_its_rows_in_memory(spilling, monkeypatch):
    data = spilling()
    fill(data, 0, 1000)

    def disk_full(fd, offset, size):
        raise OSError(28, "No space left on device")
    monkeypatch.setattr("os.posix_fallocate", disk_full)
    data.append(np.array([[1000, 3 + 4j]]))  # its file cannot grow: the column goes to memory
    assert data.column("v")[-1] == 3 + 4j and np.array_equal(data.column("t"), np.arange(1001.0))
    fill(data, 1001, 999)  # the run leaves the disk with its newest rows
    assert np.array_equal(data.column("v"), 2 * np.arange(1900.0, 2000.0))
    assert data.dropped == 1900 and "no room on disk" in data.dropped_because

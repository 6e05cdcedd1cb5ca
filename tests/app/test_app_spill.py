"""Runs longer than --max-rows: a followed file that grows past it keeps
every row reachable (the run goes on on disk), or with --disk-cap 0 drops
the older rows and the status bar says so; a recording of arrays read in
blocks keeps every row."""

import numpy as np
import pytest

from tests.support.running import write

WAIT = 15_000


def text(first, count, header=False):
    rows = "".join(f"{i},{i % 7}\n" for i in range(first, first + count))
    return ("t,v\n" if header else "") + rows


@pytest.mark.parametrize("cap, kept, said", [
    ("10", 3000, ""), ("0", 1000, "2,000 older rows dropped: --max-rows 1000")])
def test_a_live_run_past_max_rows(qtbot, open_app, tmp_path, cap, kept, said):
    path = tmp_path / "grows.csv"
    write(path, "w", text(0, 500, header=True))
    win = open_app(str(path), "--max-rows", "1000", "--disk-cap", cap)
    qtbot.waitUntil(lambda: win.summary()["points"] == 500, timeout=WAIT)
    write(path, "a", text(500, 2500))
    qtbot.waitUntil(lambda: win.summary()["points"] == 3000, timeout=WAIT)
    assert win.summary()["kept"] == kept
    assert win.point_dataset.column("t")[0] == 3000 - kept  # the first row reachable
    label = win.status_bar.dropped_label
    qtbot.waitUntil(lambda: label.text() == said if said else label.isHidden(), timeout=WAIT)


def write_npy(path, table):
    np.save(path, table)


def write_hdf5(path, table):
    h5py = pytest.importorskip("h5py")
    with h5py.File(path, "w") as f:
        f["t"], f["v"] = table[:, 0], table[:, 1]


@pytest.mark.parametrize("suffix, writer", [(".npy", write_npy), (".h5", write_hdf5)])
def test_a_recording_of_arrays_longer_than_max_rows_keeps_every_row(
        qtbot, open_app, tmp_path, suffix, writer):
    table = np.column_stack([np.arange(3000.0), np.arange(3000) % 7.0])
    path = tmp_path / f"rec{suffix}"
    writer(path, table)
    win = open_app(str(path), "--max-rows", "1000")
    qtbot.waitUntil(lambda: win.summary()["points"] == 3000, timeout=WAIT)
    assert win.summary()["kept"] == 3000 and win.point_dataset.dropped == 0
    data = win.point_dataset
    assert np.array_equal(data.column(data.column_names[-1]), table[:, 1])

"""Runs longer than --max-rows: a followed file that grows past it keeps
every row reachable (the run goes on on disk), or with --disk-cap 0 drops
the older rows and the status bar says so; a recording of arrays read in
blocks (HDF5) keeps every row."""

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


def test_an_hdf5_recording_longer_than_max_rows_keeps_every_row(qtbot, open_app, tmp_path):
    h5py = pytest.importorskip("h5py")
    table = np.column_stack([np.arange(3000.0), np.arange(3000) % 7.0])
    path = tmp_path / "rec.h5"
    with h5py.File(path, "w") as f:
        f["t"], f["v"] = table[:, 0], table[:, 1]
    win = open_app(str(path), "--max-rows", "1000")
    qtbot.waitUntil(lambda: win.summary()["points"] == 3000, timeout=WAIT)
    assert win.summary()["kept"] == 3000 and win.point_dataset.dropped == 0
    assert np.array_equal(win.point_dataset.column("v"), table[:, 1])

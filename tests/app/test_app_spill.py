"""Runs longer than --max-rows keep every row reachable (the run goes on
on disk; the data sets' own tests are test_spill's): a recording of arrays
read in blocks (HDF5). (--disk-cap 0, dropping them as before, is
test_app_window's and test_app_large's.)"""

import numpy as np
import pytest

WAIT = 15_000


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

"""Saving data and plots: files that read back as what was stored, and
failures that leave nothing half-written under the requested name."""

import errno
import os
import subprocess

import numpy as np
import pytest

from tarvinel.stelvane.window import export
from tarvinel.stelvane.formats.text import writer
from tarvinel.stelvane.dataset import Dataset

from tests.support.tables import read_table


def leftovers(directory, name):
    return [p for p in os.listdir(directory) if p != name]


pytestmark = pytest.mark.filterwarnings("ignore::tarvinel.stelvane.dataset.DataWarning")

ODD_FLOATS = [0.1, -0.0, 1e-308, 5e-324, 1.7976931348623157e308, float("nan"), float("inf"),
              -float("inf"), 123456789.123456789, 2.0 ** 53 + 1]


def test_current_run_and_history_read_back_exactly(tmp_path):
    ds = Dataset("traces")
    ds.set_column_names(["freq", "S21", "a,b"])
    ds.append([[1.0, 1 + 2j, 0.5], [2.0, complex(float("nan"), -0.0), 7.0]])
    ds.roll()
    ds.set_column_names(["freq", "gain"])  # a run with other columns ends the first
    rows = [[x, y] for x, y in zip(ODD_FLOATS, reversed(ODD_FLOATS))]
    ds.append(rows)
    ds.roll()
    ds.append([[3.0, float("-inf")]])

    run_file = tmp_path / "run.csv"
    assert export.save_current_run(ds, str(run_file)) == 1
    names, columns = read_table(run_file)
    assert names == ["freq", "gain"]
    assert [c.tolist() for c in columns] == [[3.0], [float("-inf")]]

    history_file = tmp_path / "history.csv"
    assert export.save_history(ds, str(history_file)) == 2
    runs = []
    names, columns = read_table(history_file, runs)
    assert runs == [2, len(rows)]
    assert names == ["run", "freq", "S21", "a_b", "gain"]
    table = dict(zip(names, columns))
    first, second = ds.history
    assert table["run"].tolist() == [first.number] * 2 + [second.number] * len(rows)
    assert np.array_equal(table["freq"], np.r_[first.column("freq"), second.column("freq")],
                          equal_nan=True)
    # Each run's own columns exactly, bit for bit (-0.0 and the smallest
    # subnormal included); NaN where a run had no such column.
    assert np.array_equal(table["S21"][:2], first.column("S21"), equal_nan=True)
    assert np.signbit(table["S21"][1].imag)
    assert np.isnan(table["S21"][2:]).all() and np.isnan(table["gain"][:2]).all()
    gain = table["gain"][2:]
    assert gain.tobytes() == second.column("gain").tobytes()


@pytest.mark.parametrize("what", ["run", "history"])
def test_nothing_to_save_is_said_and_writes_nothing(tmp_path, what):
    ds = Dataset("points")
    save = export.save_current_run if what == "run" else export.save_history
    with pytest.raises(export.ExportError, match="has no"):
        save(ds, str(tmp_path / "x.csv"))
    assert os.listdir(tmp_path) == []


@pytest.fixture
def immutable_directory(tmp_path):
    """A directory nobody may add files to, root included (the immutable flag)."""
    directory = tmp_path / "locked"
    directory.mkdir()
    (directory / "data.csv").write_text("old\n")
    if subprocess.run(["chattr", "+i", str(directory)], capture_output=True).returncode:
        pytest.skip("this file system has no immutable flag")
    yield directory
    subprocess.run(["chattr", "-i", str(directory)], check=True)


def fail_writes_after_first(monkeypatch):
    """The disk fills up after the first write: ENOSPC from the operating
    system's write, as a full file system gives it (simulated: a real full
    file system needs a mount)."""
    real_write = os.write
    calls = []

    def write(fd, data):
        calls.append(len(data))
        if len(calls) > 1:
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
        return real_write(fd, data)

    monkeypatch.setattr(os, "write", write)
    monkeypatch.setattr(writer, "CHUNK_ROWS", 10)
    return calls


def test_failed_writes_keep_the_old_file_and_leave_no_other(tmp_path, monkeypatch, immutable_directory):
    ds = Dataset("points")
    ds.set_column_names(["t", "v"])
    ds.append(np.arange(200.0).reshape(100, 2))

    # No permission: nothing can be created beside the file.
    target = immutable_directory / "data.csv"
    with pytest.raises(export.ExportError, match=f"could not save {target}: the operation is not permitted"):
        export.save_current_run(ds, str(target))
    assert target.read_text() == "old\n" and os.listdir(immutable_directory) == ["data.csv"]

    # The disk fills up half way: the old file stays whole, the partial one goes.
    target = tmp_path / "full.csv"
    target.write_text("old\n")
    calls = fail_writes_after_first(monkeypatch)
    with pytest.raises(export.ExportError, match=f"{target}: no space left on the device"):
        export.save_current_run(ds, str(target))
    assert len(calls) == 2
    assert target.read_text() == "old\n"
    assert leftovers(tmp_path, "full.csv") == ["locked"]


def test_devices_and_links_stay_what_they_are(tmp_path):
    ds = Dataset("points")
    ds.set_column_names(["t"])
    ds.append([[1.0]])
    # (As root, a rename over /dev/null would replace the device with a file.)
    export.save_current_run(ds, "/dev/null")
    assert os.path.exists("/dev/null") and not os.path.isfile("/dev/null")
    # A link to a file: the file gets the data, the link stays a link.
    (tmp_path / "data").mkdir()
    (tmp_path / "latest.csv").symlink_to(tmp_path / "data" / "run.csv")
    export.save_current_run(ds, str(tmp_path / "latest.csv"))
    assert (tmp_path / "latest.csv").is_symlink()
    assert read_table(tmp_path / "data" / "run.csv")[0] == ["t"]

"""Files longer than --max-rows: read once into the columnar cache and
mapped, every row kept; opened again from the cache; Parquet and compressed
text the same way; a cache too small for the file said, the newest rows
kept as before."""

import gzip
import os

import numpy as np
import pytest

from tests.support.running import WAIT

ROWS = 3_000
SPIKE = 100.0


def table():
    t = np.arange(ROWS, dtype=np.float64)
    v = np.sin(t / 50.0)
    v[ROWS // 2] = SPIKE
    return t, v


def csv_text():
    t, v = table()
    return "t,v\n" + "".join(f"{a!r},{b!r}\n" for a, b in zip(t.tolist(), v.tolist()))


def write_csv(path):
    path.write_text(csv_text())


def write_gzip(path):
    path.write_bytes(gzip.compress(csv_text().encode()))


def write_parquet(path):
    pa = pytest.importorskip("pyarrow")
    parquet = pytest.importorskip("pyarrow.parquet")
    t, v = table()
    parquet.write_table(pa.table({"t": t, "v": v}), path, row_group_size=700)


def write_npy(path):
    np.save(path, np.column_stack(table()))


def write_hdf5(path):
    h5py = pytest.importorskip("h5py")
    t, v = table()
    with h5py.File(path, "w") as stored:
        stored["t"], stored["v"] = t, v


def wav_samples():
    return (table()[1] / SPIKE * 32767).astype("<i2")


def write_wav(path):
    pytest.importorskip("scipy.io.wavfile").write(path, 1000, wav_samples())


def opened(qtbot, open_app, path, *more):
    win = open_app(str(path), "--max-rows", "1000", "--no-follow", *more)
    # Until the whole is drawn: its first rows are shown while it is converted.
    qtbot.waitUntil(lambda: win.watch.source_ended is not None
                    and win.plot_presenters[0].drawn_rows == len(win.point_dataset), timeout=WAIT)
    return win


def cached_files(cache_home):
    """(name, inode) of every file in the cache's entries."""
    root = cache_home / "tarvinel-stelvane"
    return sorted((str(p.relative_to(root)), os.stat(p).st_ino) for p in root.rglob("*") if p.is_file())


def test_a_long_file_is_cached_once_and_opened_again_from_the_cache(qtbot, open_app, tmp_path,
                                                                     cache_home):
    path = tmp_path / "long.csv"
    write_csv(path)
    win = opened(qtbot, open_app, path)
    summary = win.summary()
    assert (summary["points"], summary["kept"], summary["recording"]["rows"]) == (ROWS, ROWS, ROWS)
    assert summary["stats"][0]["max"] == SPIKE and summary["window_rows"] == ROWS
    assert win.status_bar.dropped_label.isHidden()
    assert "from the cache" in win.watch.source_ended
    files = cached_files(cache_home)
    assert any(name.endswith("c1.f64") for name, _ in files)
    win.close()
    again = opened(qtbot, open_app, path)
    assert again.summary()["kept"] == ROWS and cached_files(cache_home) == files  # not rewritten


@pytest.mark.parametrize("name, write", [("long.parquet", write_parquet),
                                         ("long.csv.gz", write_gzip), ("long.npy", write_npy),
                                         ("long.h5", write_hdf5), ("long.wav", write_wav)])
def test_recordings_in_other_formats_keep_every_row(qtbot, open_app, tmp_path, name, write):
    path = tmp_path / name
    write(path)
    win = opened(qtbot, open_app, path)
    summary = win.summary()
    # The first rows shown while the file was converted are replaced, not kept twice.
    assert summary["points"] == summary["kept"] == ROWS and summary["runs"] == 1
    assert len(summary["point_columns"]) == 2 and "from the cache" in win.watch.source_ended
    expected = wav_samples() / 32768 if name == "long.wav" else table()[1]
    np.testing.assert_array_equal(win.point_dataset.column(summary["point_columns"][1]), expected)


def test_a_cache_too_small_for_the_file_is_said_and_the_newest_rows_kept(qtbot, open_app,
                                                                          tmp_path):
    # (No disk for the run either: with it, the run that reads the file
    # would spill and keep every row.)
    path = tmp_path / "long.csv"
    write_csv(path)
    win = opened(qtbot, open_app, path, "--cache-size", "0.00001", "--disk-cap", "0")
    summary = win.summary()
    assert summary["kept"] == 1000 and summary["points"] == ROWS
    assert any("not cached" in text and "cap of" in text for text in summary["problem_texts"])
    qtbot.waitUntil(lambda: win.status_bar.dropped_label.isVisible(), timeout=WAIT)


def test_a_long_file_replays_from_its_first_row_to_its_last(qtbot, open_app, tmp_path):
    path = tmp_path / "long.csv"
    write_csv(path)
    win = open_app(str(path), "--max-rows", "1000", "--replay", "max")
    qtbot.waitUntil(lambda: win.summary().get("replay", {}).get("ended"), timeout=WAIT)
    replay = win.summary()["replay"]
    assert replay["position"] == replay["rows"] == ROWS and replay["x"] == ROWS - 1
    assert win.summary()["kept"] == ROWS


def test_a_long_file_the_cache_gives_up_on_is_read_on_not_again(qtbot, open_app, tmp_path):
    """A second run (after a blank line) makes no table the cache holds: the
    rows shown and converted so far go on to the window, each once."""
    path = tmp_path / "two.csv"
    path.write_text(csv_text() + "\n" + csv_text().split("\n", 1)[1])
    win = opened(qtbot, open_app, path)
    (first,) = win.point_dataset.history
    np.testing.assert_array_equal(first.columns[1], table()[1])
    assert win.summary()["points"] == 2 * ROWS

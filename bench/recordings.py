"""Benchmark: reading a recording in each binary format, the reader alone.

The same 2,000,000 rows of 9 float64 columns (a growing time and 8 noise
columns, 144 MB as numbers) are written as Parquet (snappy), Arrow IPC
(uncompressed), HDF5 (one dataset per column), NumPy .npy and gzip'ed CSV,
and each is read by its recordings reader into the feed, whose queue only
counts the rows, as the producer process would hand them to the window. Printed: the
seconds and rows per second of each, beside the file's size. The window's
intake of the rows is the same for every format and not measured here.
"""
import gzip
import pathlib
import tempfile
import time

import numpy as np

from tarvinel.stelvane.formats import make_reader, recordings
from tarvinel.stelvane.protocol import PD, TextRows
from tarvinel.stelvane.sources.feed import Feed

ROWS = 2_000_000
COLUMNS = 9


class CountingQueue:
    """The window's queue to the feed, keeping nothing but the rows' count."""

    def __init__(self):
        self.count = 0

    def put(self, item, block=True, timeout=None):
        if item[0] == PD:
            rows = item[1].block if isinstance(item[1], TextRows) else item[1]
            self.count += len(rows) if getattr(rows, "ndim", 1) == 2 else 1

    def qsize(self):
        return 0


def write_files(folder: pathlib.Path) -> list[pathlib.Path]:
    import h5py
    import pyarrow as pa
    import pyarrow.feather as feather
    import pyarrow.parquet as parquet
    rng = np.random.default_rng(1)
    columns = {"time": np.arange(ROWS) * 1e-3,
               **{f"c{i}": rng.standard_normal(ROWS) for i in range(1, COLUMNS)}}
    table = pa.table(columns)
    parquet.write_table(table, folder / "rows.parquet")
    feather.write_feather(table, folder / "rows.arrow", compression="uncompressed")
    with h5py.File(folder / "rows.h5", "w") as stored:
        for name, values in columns.items():
            stored[name] = values
    np.save(folder / "rows.npy", np.column_stack(list(columns.values())))
    text = np.column_stack(list(columns.values()))[:ROWS // 10]  # a tenth: the text road
    lines = "\n".join(",".join(f"{v:.6f}" for v in row) for row in text)
    (folder / "rows.csv.gz").write_bytes(
        gzip.compress((",".join(columns) + "\n" + lines + "\n").encode(), 1))
    return sorted(folder.iterdir())


def read(path: pathlib.Path) -> tuple[float, int]:
    counted = CountingQueue()
    feed, problems = Feed(counted), []
    with open(path, "rb") as file:
        found = recordings.recognise(file.read(recordings.HEAD_BYTES), str(path))
    recording = recordings.Recording(
        str(path), feed, problems.append, lambda text: None,
        text_reader=lambda: make_reader(feed, problems.append, name=path.name))
    start = time.perf_counter()
    recordings.read(found, recording)
    assert not problems, problems
    return time.perf_counter() - start, counted.count


def main() -> None:
    with tempfile.TemporaryDirectory(prefix="stelvane-bench-") as folder:
        for path in write_files(pathlib.Path(folder)):
            seconds, rows = read(path)
            print(f"{path.name:14} {path.stat().st_size / 1e6:7.1f} MB  {rows:>9,} rows  "
                  f"{seconds:6.2f} s  {rows / seconds / 1e6:6.2f} M rows/s")


if __name__ == "__main__":
    main()

"""Benchmark: two ways to serve a recording larger than memory, side by side.

A recording of ROWS rows x 9 float64 columns (a growing time and 8 noise
columns; 100,000,000 rows by default, `python bench/outofcore_candidates.py
ROWS` for fewer) is written once under /tmp as an uncompressed Arrow IPC
file, and into a DuckDB database file. Then, for each of them:

    bins     min/max of each column in 2,000 bins over a range of rows
             (the whole recording, and its middle tenth), what a zoomed-out
             view needs
    narrow   the rows of a narrow range of X (20,000 rows in the middle),
             what a zoomed-in view needs

pyarrow + numpy: the IPC file memory-mapped, each column a numpy view of
the map, reduced with numpy (reshape + min/max per bin; searchsorted on X).
DuckDB: SQL on its own storage (GROUP BY the bin; a WHERE on X), the
results fetched as numpy. Printed: the best of three runs of each, and the
peak resident memory of this process after each candidate.
"""
import os
import pathlib
import resource
import shutil
import sys
import tempfile
import time

import numpy as np

ROWS = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000_000
NAMES = ["time", *(f"c{i}" for i in range(1, 9))]
BINS = 2_000
NARROW = 20_000
CHUNK = 4_000_000


def write_ipc(path: pathlib.Path) -> None:
    import pyarrow as pa
    rng = np.random.default_rng(5)
    schema = pa.schema([(name, pa.float64()) for name in NAMES])
    with pa.OSFile(str(path), "wb") as sink, pa.ipc.new_file(sink, schema) as writer:
        for first in range(0, ROWS, CHUNK):
            count = min(CHUNK, ROWS - first)
            columns = [np.arange(first, first + count) * 1e-3,
                       *rng.standard_normal((8, count)).cumsum(axis=1)]
            writer.write_batch(pa.record_batch(columns, schema=schema))


def write_duckdb(ipc: pathlib.Path, path: pathlib.Path) -> None:
    import duckdb
    import pyarrow as pa
    with pa.memory_map(str(ipc)) as source:
        reader = pa.ipc.open_file(source)
        connection = duckdb.connect(str(path))
        connection.execute(f"CREATE TABLE rec ({', '.join(f'{n} DOUBLE' for n in NAMES)})")
        for index in range(reader.num_record_batches):
            batch = pa.Table.from_batches([reader.get_batch(index)])  # noqa: F841 - read by SQL
            connection.execute("INSERT INTO rec SELECT * FROM batch")
        connection.close()


def best(action, repeats: int = 3) -> float:
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return min(times)


def mapped_columns(ipc: pathlib.Path):
    import pyarrow as pa
    source = pa.memory_map(str(ipc))
    table = pa.ipc.open_file(source).read_all()  # batches reference the map: no copy
    return source, {name: table.column(name) for name in NAMES}


def numpy_bins(columns, first: int, last: int) -> None:
    size = -(-(last - first) // BINS)
    for name in NAMES[1:]:
        low, high = np.full(BINS, np.inf), np.full(BINS, -np.inf)
        start = 0
        for chunk in columns[name].chunks:  # each a numpy view of the map
            end = start + len(chunk)
            begin, stop = max(first, start), min(last, end)
            if begin < stop:
                values = chunk.to_numpy()[begin - start:stop - start]
                edges = np.unique(np.r_[begin, np.arange(-(-begin // size) * size, stop, size)])
                bins = (edges - first) // size
                np.minimum.at(low, bins, np.minimum.reduceat(values, edges - begin))
                np.maximum.at(high, bins, np.maximum.reduceat(values, edges - begin))
            start = end


def _rows(chunked, first: int, last: int) -> np.ndarray:
    """Rows [first, last) of a chunked column (a copy only where they span chunks)."""
    return chunked.slice(first, last - first).to_numpy()


def numpy_narrow(columns, x0: float, x1: float) -> None:
    # X grows: each chunk's first value finds the chunk, searchsorted the rows.
    chunks = columns["time"].chunks
    starts = np.cumsum([0] + [len(c) for c in chunks])
    heads = np.array([c[0].as_py() for c in chunks])
    at = max(0, int(np.searchsorted(heads, x0, side="right")) - 1)
    x = chunks[at].to_numpy()
    first = starts[at] + int(np.searchsorted(x, x0))
    last = starts[at] + int(np.searchsorted(x, x1))
    [np.array(_rows(columns[name], int(first), int(last))) for name in NAMES]


def duckdb_bins(connection, first: int, last: int) -> None:
    size = -(-(last - first) // BINS)
    picks = ", ".join(f"min({n}), max({n})" for n in NAMES[1:])
    connection.execute(f"SELECT (time * 1000 - {first})::BIGINT // {size} AS b, {picks} FROM rec "
                       f"WHERE time >= {first / 1e3} AND time < {last / 1e3} GROUP BY b").fetchnumpy()


def duckdb_narrow(connection, x0: float, x1: float) -> None:
    connection.execute(f"SELECT * FROM rec WHERE time >= {x0} AND time < {x1}").fetchnumpy()


def peak_mb() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def measure(label: str, bins, narrow) -> None:
    middle = ROWS // 2
    whole = best(lambda: bins(0, ROWS), repeats=2)
    tenth = best(lambda: bins(middle - ROWS // 20, middle + ROWS // 20))
    rows = best(lambda: narrow(middle / 1e3, (middle + NARROW) / 1e3))
    print(f"{label:18s} bins whole {whole:7.3f} s   bins tenth {tenth:7.3f} s   "
          f"narrow {rows * 1e3:8.2f} ms   peak RSS {peak_mb():7.0f} MB", flush=True)


def main() -> None:
    folder = pathlib.Path(tempfile.mkdtemp(prefix="outofcore-", dir="/tmp"))
    try:
        ipc, database = folder / "rec.arrow", folder / "rec.duckdb"
        start = time.perf_counter()
        write_ipc(ipc)
        print(f"{ROWS:,} rows x {len(NAMES)} columns: Arrow IPC {ipc.stat().st_size / 1e9:.2f} GB "
              f"written in {time.perf_counter() - start:.1f} s", flush=True)
        start = time.perf_counter()
        write_duckdb(ipc, database)
        print(f"DuckDB database {database.stat().st_size / 1e9:.2f} GB "
              f"loaded in {time.perf_counter() - start:.1f} s", flush=True)
        source, columns = mapped_columns(ipc)
        measure("pyarrow mmap+numpy", lambda a, b: numpy_bins(columns, a, b),
                lambda a, b: numpy_narrow(columns, a, b))
        source.close()
        import duckdb
        connection = duckdb.connect(str(database), read_only=True)
        connection.execute("SET memory_limit = '1GB'")
        measure("DuckDB", lambda a, b: duckdb_bins(connection, a, b),
                lambda a, b: duckdb_narrow(connection, a, b))
        connection.close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print(f"pid {os.getpid()} done")


if __name__ == "__main__":
    main()

"""Benchmark: a recording far longer than --max-rows, opened whole.

A CSV file of ROWS rows (a time in milliseconds and 8 random walks, 91
bytes a row, made with numpy fast enough for 100,000,000 rows; 100,000,000
rows by default, `--rows` for fewer) is written once under /tmp/stelvane-big and
kept for the next run (--fresh writes it anew); `--as parquet` or `--as
arrow` writes the same rows as float64 columns in that format. Then, side
by side:

    DuckDB     read_csv (read_parquet) of the file into numpy arrays (its own
               threads); an Arrow file: pyarrow's read_all
    stelvane   the file opened with the default settings (--max-rows
               1,000,000) and a cache of its own under /tmp: seconds until
               every row was read into the cache and mapped, the first
               picture, then the same file opened again (from the cache)

and, in the window opened again: the time until the live plot shows a new
zoom level in full detail, the pan and zoom frames per second zoomed out
(harness/history.py's scripted steps on the live plot), and the peak
resident memory of the window's process and of its producer. `--expr`
gives the window derived series too (made over the mapped recording).
"""
import argparse
import os
import pathlib
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

from harness.history import apply, steps
from harness.qtapp import PaintCounter, application
from harness.waiting import wait

FOLDER = pathlib.Path("/tmp/stelvane-big")
ROWS = 100_000_000
DIGITS = 10  # of the time column
CHUNK = 1 << 20
ZOOMS = (0.5, 0.1, 0.02, 0.004)  # shares of the recording a new zoom level shows


def walks(rows: int):
    """(first row, times in ms, 8 random walks of |value| < 10) a block of
    rows at a time: the same numbers whichever format they are written in."""
    rng = np.random.default_rng(3)
    level = np.zeros(8)
    for first in range(0, rows, CHUNK):
        count = min(CHUNK, rows - first)
        walked = level + rng.standard_normal((count, 8)).cumsum(axis=0) * 0.01
        level = walked[-1]
        yield first, np.arange(first, first + count), np.abs((walked + 10) % 40 - 20) - 10


def write_numbers(path: pathlib.Path, rows: int) -> None:
    """Rows of `time` (milliseconds, fixed width) and 8 random walks of
    fixed width, made as bytes by numpy a block at a time (formatting row
    by row would take far longer than reading them)."""
    tens = 10 ** np.arange(DIGITS - 1, -1, -1, dtype=np.int64)
    with open(path, "wb") as out:
        out.write(b"time,c1,c2,c3,c4,c5,c6,c7,c8\n")
        for _, times, folded in walks(rows):
            text = np.full((len(times), DIGITS + 8 * 10 + 1), ord(","), np.uint8)
            text[:, :DIGITS] = 48 + times[:, None] // tens % 10
            # Each value as " d.dddddd" or "-d.dddddd".
            micro = np.rint(np.abs(folded) * 1e6).astype(np.int64)
            for k in range(8):
                at = DIGITS + 1 + 10 * k
                text[:, at] = np.where(folded[:, k] < 0, ord("-"), ord(" "))
                text[:, at + 1] = 48 + micro[:, k] // 1_000_000 % 10
                text[:, at + 2] = ord(".")
                text[:, at + 3:at + 9] = 48 + micro[:, k, None] // tens[-6:] % 10
            text[:, -1] = ord("\n")
            out.write(text.tobytes())


def write_columnar(path: pathlib.Path, rows: int, kind: str) -> None:
    """The same rows as float64 columns in Parquet (pyarrow's defaults) or
    an uncompressed Arrow IPC file, a record batch per block."""
    import pyarrow as pa
    import pyarrow.parquet as parquet
    schema = pa.schema([(name, pa.float64()) for name in ["time"] + [f"c{k}" for k in range(1, 9)]])
    writer = parquet.ParquetWriter(path, schema) if kind == "parquet" else \
        pa.ipc.new_file(path, schema)
    with writer:
        for _, times, folded in walks(rows):
            columns = [times.astype(np.float64)] + [folded[:, k].copy() for k in range(8)]
            writer.write_batch(pa.record_batch(columns, schema=schema))


def the_file(rows: int, kind: str, fresh: bool) -> pathlib.Path:
    path = FOLDER / f"numbers-{rows}.{kind}"
    if fresh or not path.exists():
        FOLDER.mkdir(exist_ok=True)
        start = time.perf_counter()
        if kind == "csv":
            write_numbers(path, rows)
        else:
            write_columnar(path, rows, kind)
        print(f"written in {time.perf_counter() - start:.0f} s", flush=True)
    print(f"{rows:,} rows, {path.stat().st_size / 1e9:.2f} GB: {path}", flush=True)
    return path


# DuckDB reads Arrow IPC only through an extension it would download: the
# Arrow file is read by pyarrow into numpy instead.
DUCKDB = """
import sys, time, duckdb, numpy
start = time.perf_counter()
path, kind = sys.argv[1:]
if kind == "arrow":
    import pyarrow
    with pyarrow.memory_map(path) as source:
        table = pyarrow.ipc.open_file(source).read_all()
    columns = {name: numpy.asarray(table[name]) for name in table.column_names}
else:
    columns = duckdb.sql(f"SELECT * FROM read_{kind}('{path}')").fetchnumpy()
print(time.perf_counter() - start, len(columns["c1"]))
"""


def duckdb_seconds(path: pathlib.Path, kind: str) -> float:
    """DuckDB's read of the file into numpy, in a process of its own (its memory is not the window's)."""
    done = subprocess.run([sys.executable, "-c", DUCKDB, str(path), kind], capture_output=True,
                          text=True, check=True)
    seconds, rows = done.stdout.strip().splitlines()[-1].split()
    assert int(rows) > 0
    return float(seconds)


def opened(app, path: pathlib.Path, more=()):
    """The window on the file once it has drawn every row: (window, seconds)."""
    from tarvinel.stelvane.app import create_app

    start = time.perf_counter()
    window = create_app([str(path), "--no-follow", "--pattern", "time,c.*", *more]).window
    drawn = lambda: (window.watch.source_ended is not None  # noqa: E731
                     and window.plot_presenters[0].drawn_rows == len(window.point_dataset))
    if not wait(app, drawn, 3600):
        sys.exit(f"the window never drew every row: {window.summary()}")
    return window, time.perf_counter() - start


def new_zoom_levels(app, window) -> list[float]:
    """Seconds from each new zoom level until its curves are drawn in full detail."""
    presenter, vb = window.plot_presenters[0], window.live_plot.plotItem.vb
    x = window.point_dataset.column("time")
    first, last = float(x[0]), float(x[-1])
    counter = PaintCounter({"live": window.live_plot.viewport()})
    waits = []
    for share in ZOOMS:
        middle, half = (first + last) / 2, (last - first) * share / 2
        before = counter.paints["live"]
        start = time.perf_counter()
        vb.setXRange(middle - half, middle + half, padding=0)
        wait(app, lambda: counter.paints["live"] > before and presenter.job is None, 30)
        waits.append(time.perf_counter() - start)
    vb.autoRange()
    return waits


def pan_zoom_fps(app, window) -> float:
    vb = window.live_plot.plotItem.vb
    counter = PaintCounter({"live": window.live_plot.viewport()})
    start, done = time.perf_counter(), 0
    for kind, amount in steps():
        before = counter.paints["live"]
        apply(vb, kind, amount)
        if wait(app, lambda: counter.paints["live"] > before, 5):
            done += 1
    return done / (time.perf_counter() - start)


def resident_now() -> str:
    """The window process's resident memory now: its own (anonymous) pages
    and the pages of mapped files (the cache's columns, which the system
    takes back when it needs them)."""
    status = pathlib.Path("/proc/self/status").read_text().splitlines()
    fields = dict(line.split(":", 1) for line in status if line.startswith("Rss"))
    return ", ".join(f"{name} {int(value.split()[0]) / 1024:.0f} MB" for name, value in fields.items())


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=ROWS, help="rows of the file (default %(default)s)")
    parser.add_argument("--as", dest="kind", choices=("csv", "parquet", "arrow"), default="csv",
                        help="the file's format (default %(default)s)")
    parser.add_argument("--fresh", action="store_true", help="write the file anew")
    parser.add_argument("--expr", action="append", default=[], metavar="NAME=EXPRESSION",
                        help="a derived series of the window (as its --expr; repeat for more)")
    args = parser.parse_args(argv)
    more = [option for expression in args.expr for option in ("--expr", expression)]
    path = the_file(args.rows, args.kind, args.fresh)
    cache = tempfile.mkdtemp(prefix="stelvane-big-cache-", dir="/tmp")
    os.environ["XDG_CACHE_HOME"] = cache  # the producer processes inherit it
    app = application()
    try:
        window, seconds = opened(app, path, more)
        print(f"stelvane, first opening: {seconds:.1f} s until every row was drawn; "
              f"{window.summary()['recording']}", flush=True)
        window.close()
        window, seconds = opened(app, path, more)
        summary = window.summary()
        print(f"stelvane, opened again: {seconds:.2f} s; kept {summary['kept']:,} of "
              f"{summary['recording']['rows']:,} rows; {summary['recording']}", flush=True)
        waits = new_zoom_levels(app, window)
        print("a new zoom level in full detail: "
              + ", ".join(f"{share:g} of it {1e3 * w:.0f} ms" for share, w in zip(ZOOMS, waits)))
        print(f"pan and zoom zoomed out: {pan_zoom_fps(app, window):.1f} frames/s", flush=True)
        print(f"the window's resident memory, the recording shown: {resident_now()}", flush=True)
        window.close()
        wait(app, lambda: False, 0.5)
        own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        producers = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
        print(f"peak resident memory: window {own:.0f} MB, producer {producers:.0f} MB; the "
              f"window's now: {resident_now()}", flush=True)
        reader = "pyarrow's read_all" if args.kind == "arrow" else f"DuckDB's read_{args.kind}"
        print(f"{reader} into numpy: {duckdb_seconds(path, args.kind):.1f} s", flush=True)
    finally:
        shutil.rmtree(cache, ignore_errors=True)


if __name__ == "__main__":
    main()

"""Benchmark: opening a large CSV file with `stelvane FILE --no-follow`
beside pandas.read_csv with the same column parsed as dates, on the same
file in the same run.

The file: 2,000,000 rows of a date-time (`2026-12-08 10:00:00.125`, local
time, as most programs write it), a state word and 8 numbers, written once
into a temporary folder. The window opens it as a user would (the window
shown, eight curves of the time against the numbers) and is timed from its
start until every row is stored; pandas reads it into a DataFrame with
`parse_dates=["time"]`. The target: rows stored per second at least those of
pandas. pandas is only in requirements/bench.txt, never the product's.
"""
import argparse
import os
import pathlib
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import numpy as np  # noqa: E402

from roads import wait  # noqa: E402  (also keeps the bench's settings apart)
from tarvinel.stelvane import qt_compat  # noqa: E402  (binding before pyqtgraph)

ROWS = 2_000_000
NAMES = ["time", "state", *(f"c{i}" for i in range(1, 9))]
CHUNK = 200_000


def digits(count: int, width: int) -> np.ndarray:
    return ((np.arange(count)[:, None] // 10 ** np.arange(width - 1, -1, -1)) % 10
            + 48).astype(np.uint8)


def write_file(path: pathlib.Path, rows: int) -> None:
    """Rows 1 ms apart from 2026-12-08 10:00:00, fixed-width text made with
    numpy (formatting row by row would take longer than either reader)."""
    rng = np.random.default_rng(3)
    two, three = digits(100, 2), digits(1000, 3)
    words = np.frombuffer(b"idlebusywaitfail", np.uint8).reshape(4, 4)
    with open(path, "wb") as out:
        out.write((",".join(NAMES) + "\n").encode())
        for first in range(0, rows, CHUNK):
            index = np.arange(first, min(rows, first + CHUNK))
            millis = index % 1000
            seconds = 10 * 3600 + index // 1000
            hours, rest = np.divmod(seconds, 3600)
            numbers = np.char.mod("%.6f", rng.standard_normal((len(index), 8)).round(6))
            tails = [",".join(row) for row in numbers.tolist()]
            text = np.empty((len(index), 34), np.uint8)
            text[:, :11] = np.frombuffer(b"2026-12-08 ", np.uint8)
            text[:, 11:13], text[:, 13], text[:, 14:16] = two[hours], 58, two[rest // 60]
            text[:, 16], text[:, 17:19], text[:, 19] = 58, two[rest % 60], 46
            text[:, 20:23], text[:, 23] = three[millis], 44
            text[:, 24:28], text[:, 28] = words[index // 500 % 4], 44
            heads = text[:, :29].tobytes()
            out.write(b"".join(heads[i * 29:(i + 1) * 29] + tail.encode() + b"\n"
                               for i, tail in enumerate(tails)))


def open_with_stelvane(app, path: pathlib.Path, rows: int) -> dict:
    from tarvinel.stelvane.app import create_app

    start = time.perf_counter()
    window = create_app([str(path), "--no-follow", "--max-rows", str(rows),
                         "--pattern", "time,c.*"]).window
    wait(app, lambda: window.point_dataset.rows_stored > 0, 600)
    first_rows = time.perf_counter() - start
    wait(app, lambda: window.summary()["ended"], 600)
    spent = time.perf_counter() - start
    summary = window.summary()
    window.close()
    return {"seconds": spent, "first": first_rows, "stored": summary["points"],
            "problems": summary["problems"], "texts": summary.get("problem_texts", [])}


def open_with_pandas(path: pathlib.Path) -> dict:
    import pandas

    start = time.perf_counter()
    frame = pandas.read_csv(path, parse_dates=["time"])
    spent = time.perf_counter() - start
    assert str(frame["time"].dtype).startswith("datetime64"), frame["time"].dtype
    return {"seconds": spent, "stored": len(frame)}


def made_file(folder, rows: int) -> pathlib.Path:
    """The benchmark's file of `rows` rows in `folder`, said on standard output."""
    path = pathlib.Path(folder) / "rows.csv"
    write_file(path, rows)
    print(f"{rows:,} rows ({path.stat().st_size / 1e6:.0f} MB: a date-time, a word, 8 numbers), "
          f"{qt_compat.API}, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}",
          flush=True)
    return path


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=ROWS, help="rows of the file (default %(default)s)")
    rows = parser.parse_args(argv).rows
    app = qt_compat.QtWidgets.QApplication.instance() or qt_compat.QtWidgets.QApplication([])
    with tempfile.TemporaryDirectory(prefix="stelvane-opencsv-") as folder:
        path = made_file(folder, rows)
        pandas_figures = open_with_pandas(path)  # also brings the file into the page cache
        ours = open_with_stelvane(app, path, rows)
        pandas_again = open_with_pandas(path)
    best_pandas = min(pandas_figures["seconds"], pandas_again["seconds"])
    ours_rate, pandas_rate = ours["stored"] / ours["seconds"], rows / best_pandas
    print(f"stelvane --no-follow: {ours['stored']:,} rows stored in {ours['seconds']:.2f} s "
          f"(window start included; the first rows after {ours['first']:.2f} s): "
          f"{ours_rate:,.0f} rows/s; {ours['problems']} problem(s) {ours['texts'][:1]}")
    print(f"pandas.read_csv(parse_dates=['time']): {rows:,} rows in {best_pandas:.2f} s "
          f"(best of two): {pandas_rate:,.0f} rows/s")
    ratio = ours_rate / pandas_rate
    print(f"ratio {ratio:.2f} (target >= 1: {'met' if ratio >= 1 else 'NOT met'})", flush=True)


if __name__ == "__main__":
    main()

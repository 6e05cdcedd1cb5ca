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
import pathlib
import tempfile
import time

from harness.csvfile import made_file
from harness.qtapp import application
from harness.waiting import wait

ROWS = 2_000_000


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


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=ROWS, help="rows of the file (default %(default)s)")
    rows = parser.parse_args(argv).rows
    app = application()
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

"""Benchmark: the reader's two native roads, side by side in two trees
(this one and an earlier commit's), on the same files in alternating
rounds: the typed road (a date-time and a state word among 8 numbers, as
bench/opencsv.py's file) and the plain road (9 numbers).

    python bench/reader_roads.py                    # this tree against HEAD~1
    python bench/reader_roads.py --base main        # ... against main
    python bench/reader_roads.py --trees A B        # two trees already there

The base commit is checked out with `git worktree` under /tmp, the native
modules copied from this tree (a commit with other native sources needs
--trees and a tree built by `make build`). Each read runs in a process of
its own (bench/harness/readercost.py) with PYTHONPATH naming its tree: the
reader alone (make_reader, the road it decides on), fed in 64 KiB pieces as
a pipe delivers them, into a sink that counts rows, the best of 3 reads a
round (--repeats). The window's share (storing, painting) is bench/typedroad.py's and
bench/textroad.py's; this measures what a change to the reader costs.
"""
import argparse
import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile

import numpy as np

from harness.csvfile import write_file
from harness.sidebyside import alternating, paired_median

HERE = pathlib.Path(__file__).resolve().parent
TREE = HERE.parent
ROWS = 400_000


def write_plain(path: pathlib.Path, rows: int) -> None:
    rng = np.random.default_rng(5)
    numbers = np.column_stack((np.arange(rows) / 1000.0, rng.standard_normal((rows, 8))))
    np.savetxt(path, numbers, fmt="%.6f", delimiter=",",
               header="time," + ",".join(f"c{i}" for i in range(1, 9)), comments="")


def base_tree(revision: str, folder: pathlib.Path) -> pathlib.Path:
    """`revision` checked out under `folder`, with this tree's native modules."""
    path = folder / "base"
    subprocess.run(["git", "-C", str(TREE), "worktree", "add", "--detach", str(path), revision],
                   check=True, capture_output=True)
    for module in (TREE / "tarvinel" / "stelvane").glob("*.so"):
        shutil.copy2(module, path / "tarvinel" / "stelvane")
    return path


def read_in(tree: pathlib.Path, path: pathlib.Path, repeats: int) -> dict:
    env = dict(os.environ, PYTHONPATH=str(tree))
    done = subprocess.run([sys.executable, str(HERE / "harness" / "readercost.py"), str(path),
                           "65536", str(repeats)],
                          env=env, capture_output=True, text=True, check=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--base", default="HEAD~1", help="the commit to compare with")
    parser.add_argument("--trees", nargs=2, metavar=("BASE", "NEW"), help="two trees to compare")
    parser.add_argument("--rows", type=int, default=ROWS)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--repeats", type=int, default=3, help="reads a round (the best counts)")
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory(prefix="reader_roads_") as folder:
        folder = pathlib.Path(folder)
        base, new = ((pathlib.Path(t) for t in args.trees) if args.trees
                     else (base_tree(args.base, folder), TREE))
        try:
            compare(base, new, folder, args)
        finally:
            if not args.trees:
                subprocess.run(["git", "-C", str(TREE), "worktree", "remove", "--force",
                                str(base)], capture_output=True)


def compare(base, new, folder, args) -> None:
    files = {"typed": folder / "typed.csv", "plain": folder / "plain.csv"}
    write_file(files["typed"], args.rows)
    write_plain(files["plain"], args.rows)
    print(f"{args.rows:,} rows a file; {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.1f}; base {base}, new {new}", flush=True)
    for road, path in files.items():
        sides = {side: lambda t=tree, p=path: read_in(t, p, args.repeats)
                 for side, tree in (("base", base), ("new", new))}
        found = alternating(args.rounds, sides)
        roads = {side: runs[0]["road"] for side, runs in found.items()}
        trees = {runs[0]["tree"] for runs in found.values()}
        assert len(trees) == 2, f"both sides read with the same tree: {trees}"
        for figure, label in (("rows_per_second", "rows/s"), ("rows_per_cpu_second", "rows/CPU s")):
            rates = {side: [run[figure] for run in runs] for side, runs in found.items()}
            ratio = paired_median(rates["new"], rates["base"])
            print(f"{road:>5} road ({roads['new']}): base {statistics.median(rates['base']):,.0f} "
                  f"{label}, new {statistics.median(rates['new']):,.0f} {label}, new/base "
                  f"{ratio:.3f} (median of {args.rounds} rounds' ratios)", flush=True)


if __name__ == "__main__":
    main()

"""The large CSV file the file benchmarks open: rows of a date-time (local
time, `2026-12-08 10:00:00.125`, as most programs write it), a state word
and 8 numbers, written with numpy into a folder of the benchmark's."""

import os
import pathlib

import numpy as np

from tarvinel.stelvane import qt_compat

from .rowsender import WORDS, digits

NAMES = ["time", "state", *(f"c{i}" for i in range(1, 9))]
CHUNK = 200_000


def write_file(path: pathlib.Path, rows: int) -> None:
    """Rows 1 ms apart from 2026-12-08 10:00:00, fixed-width text made with
    numpy (formatting row by row would take longer than either reader)."""
    rng = np.random.default_rng(3)
    two, three = digits(100, 2), digits(1000, 3)
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
            text[:, 24:28], text[:, 28] = WORDS[index // 500 % 4], 44
            heads = text[:, :29].tobytes()
            out.write(b"".join(heads[i * 29:(i + 1) * 29] + tail.encode() + b"\n"
                               for i, tail in enumerate(tails)))


def made_file(folder, rows: int) -> pathlib.Path:
    """The benchmark's file of `rows` rows in `folder`, said on standard output."""
    path = pathlib.Path(folder) / "rows.csv"
    write_file(path, rows)
    print(f"{rows:,} rows ({path.stat().st_size / 1e6:.0f} MB: a date-time, a word, 8 numbers), "
          f"{qt_compat.API}, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f}",
          flush=True)
    return path

"""Saving data as text.

The data files are in the text format the application reads as a source: a
header line of comma-separated column names, then one line of numbers per row
in Python's notation (`nan`, `inf`, complex values as `1+2j`), `#` comments.
A history file has an empty line after each run but the last, where the
reader ends a run, and a first column that numbers the runs, for other
readers. Each file is written whole or not at all (atomic.py); pictures of
the plots are plotimage.py's, the window's save keys savekeys.py's.
"""

from collections.abc import Callable, Iterable, Iterator

import numpy as np

from .atomic import ExportError, write_atomically
from .dataset import unique_names

# Rows formatted at a time: bounds the memory a long run's text takes.
CHUNK_ROWS = 65_536


# --- data as text ------------------------------------------------------------------


def header_name(name: str) -> str:
    """A column name as the header can carry it: the reader splits the header
    at commas and takes a line that starts with # for a comment."""
    text = " ".join(str(name).replace(",", "_").split()) or "_"
    return "_" + text[1:] if text.startswith("#") else text


def _column_parts(values: np.ndarray) -> tuple[str, list[np.ndarray]]:
    """The printf format of one column's values and the arrays it takes.

    %.17g writes every float64 so that it reads back as the same number, and
    writes NaN and infinity as `nan`, `inf`, `-inf`, as Python reads them.
    A complex value is written without the parentheses of Python's repr:
    `1+2j`, `nan+nanj`, `1-infj`."""
    if values.dtype.kind == "c":
        return "%.17g%+.17gj", [values.real, values.imag]
    if values.dtype.kind in "iub":
        return "%d", [values]
    return "%.17g", [np.asarray(values, dtype=np.float64)]


def table_chunks(names: list[str], blocks: Iterable[list[np.ndarray]],
                 comments: Iterable[str] = ()) -> Iterator[bytes]:
    """The text of a table, a piece at a time: comment lines, the header,
    then the rows of each block (one array per name; a column's type may
    differ from block to block), an empty line between two blocks: the
    reader ends a run there."""
    head = [f"# {line}\n" for line in comments]
    head.append(",".join(map(header_name, names)) + "\n")
    yield "".join(head).encode()
    for index, columns in enumerate(blocks):
        if index:
            yield b"\n"
        formats, arrays = [], []
        for column in columns:
            fmt, parts = _column_parts(np.asarray(column))
            formats.append(fmt)
            arrays += parts
        line = ",".join(formats)
        rows = len(columns[0]) if columns else 0
        for start in range(0, rows, CHUNK_ROWS):
            lists = [a[start:start + CHUNK_ROWS].tolist() for a in arrays]
            yield ("\n".join(line % row for row in zip(*lists)) + "\n").encode()


def history_table(runs) -> tuple[list[str], Iterator[list[np.ndarray]]]:
    """One table of several runs, a block per run: a first column with each
    row's run number (for readers that skip empty lines), then every column
    any run has, in the order they first appear; a run without a column has
    NaN there. The rows come a run at a time, so a long history is never
    copied whole."""
    names: list[str] = []
    for run in runs:
        names += [n for n in run.column_names if n not in names]

    def blocks():
        for run in runs:
            size = len(run)
            columns = [np.full(size, run.number, dtype=np.int64)]
            for name in names:
                try:
                    columns.append(run.column(name))
                except KeyError:
                    columns.append(np.full(size, np.nan))
            yield columns

    # The run column takes the suffix when a column is called "run" too.
    run_name = unique_names([*names, "run"])[0][-1]
    return [run_name, *names], blocks()


def current_run_writer(dataset, path: str) -> tuple[Callable[[], None], int]:
    """Takes the data set's current run as it is now (in the thread that owns
    the data set) and returns what writes it to `path` (in any thread: the
    columns handed out are never changed afterwards) and its row count.
    `dataset` is a Dataset or what reads like one (the data a pause holds)."""
    names = dataset.column_names
    if not names:
        raise ExportError(f"could not save {path}: {dataset.name} has no columns yet")
    columns = [dataset.column(name) for name in names]
    rows = len(columns[0])
    comment = f"stelvane {dataset.name}: run {dataset.run_number}, {rows} rows"
    return lambda: write_atomically(path, table_chunks(names, [columns], [comment])), rows


def history_writer(dataset, path: str) -> tuple[Callable[[], None], int]:
    """Like current_run_writer, for the finished runs (which never change)
    as one table; the count is that of the runs."""
    runs = dataset.history
    if not runs:
        raise ExportError(f"could not save {path}: {dataset.name} has no finished runs yet")
    comment = (f"stelvane {dataset.name}: runs {runs[0].number} to {runs[-1].number}, "
               f"an empty line after each run, the first column numbers the run of each row")

    def write():
        names, blocks = history_table(runs)
        write_atomically(path, table_chunks(names, blocks, [comment]))
    return write, len(runs)


def save_current_run(dataset, path: str) -> int:
    """Writes the data set's current run to `path`; returns the rows written."""
    write, rows = current_run_writer(dataset, path)
    write()
    return rows


def save_history(dataset, path: str) -> int:
    """Writes the data set's finished runs to `path`; returns how many."""
    write, runs = history_writer(dataset, path)
    write()
    return runs

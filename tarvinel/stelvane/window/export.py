"""Saving data as text.

The data files are in the text format the application reads as a source: a
header line of comma-separated column names (and a line of units under it
where a column has one), then one line per row: numbers in Python's notation
(`nan`, `inf`, complex values as `1+2j`), times as ISO 8601 texts with their
offset, the words of text columns; `#` comments.
A history file has an empty line after each run but the last, where the
reader ends a run, and a first column that numbers the runs, for other
readers. The window's text markers go with every file, as `#@marker` lines
(formats/markers.py) the reader reads back. Each file is written whole or not at all (atomic.py); pictures of
the plots are plotimage.py's, the window's save keys savekeys.py's.
"""

from collections.abc import Callable
from dataclasses import dataclass, replace

from ..formats.atomic import ExportError, write_atomically
from ..formats.text.writer import history_table, table_chunks, typed_column
from ..model.series import formatted
from ..model.statistics import rows_in_range


@dataclass(frozen=True)
class VisibleRange:
    """What a plot of the current run shows: the rows among its newest
    `last` (None: all) whose X column `x_name`, in format `fx`, lies in
    [low, high]."""
    x_name: str
    low: float
    high: float
    last: int | None = None
    fx: str | None = None


def current_run_writer(dataset, path: str, directives=()) -> tuple[Callable[[], None], int]:
    """Takes the data set's current run as it is now (in the thread that owns
    the data set) and returns what writes it to `path` (in any thread: the
    columns handed out are never changed afterwards) and its row count.
    `dataset` is a Dataset or what reads like one (the data a pause holds)."""
    names = dataset.column_names
    if not names:
        raise ExportError(f"could not save {path}: {dataset.name} has no columns yet")
    columns = [typed_column(dataset, name) for name in names]
    units = [dataset.unit(name) for name in names]
    rows = len(columns[0].values)
    comment = f"stelvane {dataset.name}: run {dataset.run_number}, {rows} rows"
    return lambda: write_atomically(path, table_chunks(names, [columns], [comment], units,
                                                       directives)), rows


def visible_range_writer(dataset, path: str, visible: VisibleRange, directives=()
                         ) -> tuple[Callable[[], None], int]:
    """Like current_run_writer, for the rows of the current run that
    `visible` says are shown, with all their columns."""
    names = dataset.column_names
    if visible.x_name not in names:
        raise ExportError(f"could not save {path}: {dataset.name} has no column {visible.x_name}")
    columns = [typed_column(dataset, name) for name in names]
    units = [dataset.unit(name) for name in names]
    length = len(columns[0].values)
    shown = slice(None if visible.last is None else max(0, length - visible.last), None)
    x = formatted(columns[names.index(visible.x_name)].values[shown], visible.fx)
    rows = rows_in_range(x, visible.low, visible.high)
    columns = [replace(column, values=column.values[shown][rows]) for column in columns]
    count = len(columns[0].values)
    comment = (f"stelvane {dataset.name}: run {dataset.run_number}, the {count} rows with "
               f"{visible.x_name} from {visible.low!r} to {visible.high!r}")
    return lambda: write_atomically(path, table_chunks(names, [columns], [comment], units,
                                                       directives)), count


def history_writer(dataset, path: str, directives=()) -> tuple[Callable[[], None], int]:
    """Like current_run_writer, for the finished runs (which never change)
    as one table; the count is that of the runs."""
    runs = dataset.history
    if not runs:
        raise ExportError(f"could not save {path}: {dataset.name} has no finished runs yet")
    comment = (f"stelvane {dataset.name}: runs {runs[0].number} to {runs[-1].number}, "
               f"an empty line after each run, the first column numbers the run of each row")

    def write():
        names, blocks, units = history_table(runs)
        write_atomically(path, table_chunks(names, blocks, [comment], units, directives))
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

"""A file's named arrays (HDF5 datasets, NumPy archives, MATLAB and netCDF
variables) as one table: the 1-D arrays (and the columns of narrow 2-D
ones, and the fields of a table of records) of the length most of them
share. What is no table's column (an image, a scalar, a cube, arrays of
another length) is passed over and listed.

Arrays are sliced block by block as they are sent: an HDF5 dataset or a
memory-mapped .npy is never read whole at once.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import dataclass
from typing import Callable

import numpy as np

from ...protocol import TIME
from .columnar import Skipped, Table, as_columns, cf_times, pick_columns, rows_of, unique_names

# dtype kinds a column may hold: booleans, integers, floats, complex,
# times and durations, text.
_COLUMN_KINDS = "biufcMmUSO"


@dataclass
class ArrayColumn:
    """One column: rows [start, stop) are array[index] with the slice in
    `index` narrowed to them, then the record field `field`, then
    `convert`."""
    name: str
    array: object
    index: object
    rows: int
    unit: str = ""
    kind: str | None = None
    field: str | None = None
    convert: Callable | None = None
    source: str = ""  # the array's name (the columns of one array are one candidate)

    def values(self, start: int, stop: int) -> np.ndarray:
        source = self.array
        if self.field is not None:
            source = source.fields(self.field) if hasattr(source, "fields") else source[self.field]
        if isinstance(self.index, slice):
            values = source[start:stop]
        else:
            values = source[tuple(slice(start, stop) if isinstance(i, slice) else i
                                  for i in self.index)]
        values = np.asarray(values)
        return self.convert(values) if self.convert is not None else values


def shape_text(shape: tuple) -> str:
    if int(np.prod(shape)) == 1:
        return "a single value"
    return f"{len(shape)}-D " + "×".join(str(n) for n in shape)


class ArrayColumns:
    """The columns found so far, and what was passed over."""

    def __init__(self):
        self.found: list[ArrayColumn] = []
        self.skipped = Skipped()

    def add(self, name: str, array, *, unit: str = "", transposed: bool = False,
            fill=None) -> None:
        """An array of the file: its columns, or a line in what was passed over."""
        dtype, shape = array.dtype, tuple(array.shape)
        if dtype.names:
            self._add_records(name, array, shape, unit)
            return
        if dtype.kind not in _COLUMN_KINDS or dtype.hasobject and dtype.kind != "O":
            self.skipped.add(name, f"of type {dtype}")
            return
        columns = as_columns(name, shape, transposed)
        if columns is None or int(np.prod(shape)) == 1:
            self.skipped.add(name, shape_text(shape))
            return
        times = cf_times(np.zeros(0), unit) is not None and dtype.kind in "iuf"
        convert = _converter(unit if times else "", fill if dtype.kind == "f" else None)
        for column_name, index in columns:
            self.found.append(ArrayColumn(column_name, array, index, rows_of(shape, transposed),
                                          "" if times else unit, TIME if times else None,
                                          convert=convert, source=name))

    def _add_records(self, name: str, array, shape: tuple, unit: str) -> None:
        if len(shape) != 1:
            self.skipped.add(name, f"records, {shape_text(shape)}")
            return
        for field in array.dtype.names:
            kind = array.dtype.fields[field][0]
            if kind.kind not in _COLUMN_KINDS or kind.shape:
                self.skipped.add(f"{name}.{field}", f"of type {kind}")
                continue
            self.found.append(ArrayColumn(field, array, slice(None), shape[0], field=field,
                                          source=name))

    def table(self) -> Table:
        """The table: the columns of the length most share."""
        arrays = {c.source: c.rows for c in self.found}  # one say per array, not per column
        length = pick_columns(list(arrays.items()), self.skipped)
        kept = [c for c in self.found if c.rows == length]

        def columns(start: int, stop: int) -> list:
            return [column.values(start, stop) for column in kept]

        return Table(unique_names([c.name for c in kept]), length or 0, columns,
                     units=[c.unit for c in kept], kinds=[c.kind for c in kept])


def _converter(time_units: str, fill) -> Callable | None:
    """Fill values to NaN, then times kept as "days since ..." to epoch seconds."""
    if not time_units and fill is None:
        return None

    def convert(values: np.ndarray) -> np.ndarray:
        if fill is not None:
            values = np.where(values == fill, np.nan, values)
        return cf_times(values, time_units) if time_units else values

    return convert


def text_of(value) -> str:
    """An attribute's text (HDF5 and netCDF keep them as bytes or arrays)."""
    if isinstance(value, np.ndarray):
        value = value.tolist()
        value = value[0] if isinstance(value, list) and len(value) == 1 else value
    if isinstance(value, bytes):
        return value.decode("utf-8", "replace")
    return value if isinstance(value, str) else ""

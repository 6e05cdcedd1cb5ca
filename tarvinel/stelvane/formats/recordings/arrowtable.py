"""Arrow's record batches (Parquet, Arrow IPC, Feather) as a Table: each
column by its Arrow type as numbers, times or text; nested columns (lists,
structs, maps) are passed over and said.

This module imports no Qt: the producer process uses it.
"""

import numpy as np

from .columnar import Skipped, Table, unique_names
from . import need


def _converter(pa, kind):
    """How a column of Arrow type `kind` becomes numpy; None: it does not."""
    types = pa.types
    if kind == pa.float64():
        return _float64_values
    if types.is_boolean(kind) or types.is_integer(kind) or types.is_floating(kind) \
            or types.is_decimal(kind):
        return lambda column: column.cast(pa.float64()).to_numpy(zero_copy_only=False)
    if types.is_timestamp(kind) or types.is_date(kind) or types.is_duration(kind):
        return lambda column: column.to_numpy(zero_copy_only=False)
    if types.is_time(kind):
        scale = {"s": 1.0, "ms": 1e-3, "us": 1e-6, "ns": 1e-9}[kind.unit]
        return lambda column: column.cast(pa.int64()).to_numpy(zero_copy_only=False) * scale
    if types.is_string(kind) or types.is_large_string(kind) or types.is_dictionary(kind) \
            or types.is_binary(kind) or types.is_large_binary(kind):
        return lambda column: column.to_numpy(zero_copy_only=False)
    return None


def _float64_values(column) -> np.ndarray:
    """A float64 column's values: its buffer itself where none is missing
    (an empty table's columns are chunked, and have none). pyarrow's to_numpy
    imports pandas, where it is installed, at its first call: a third of a
    second before a recording's first rows."""
    if column.null_count or not len(column):
        return column.to_numpy(zero_copy_only=False)
    return np.frombuffer(column.buffers()[1], np.float64, len(column), column.offset * 8)


def arrow_table(schema, rows: int, batches, skipped: Skipped) -> Table:
    """A Table of the record batches `batches(rows)` yields under `schema`
    (of about that many rows where the format lets it choose): each sliced
    to the rows asked for at most."""
    pa = need("pyarrow")
    kept = []
    for index, field in enumerate(schema):
        convert = _converter(pa, field.type)
        if convert is None:
            skipped.add(field.name, f"of type {field.type}")
        else:
            kept.append((index, convert))
    units = [_unit(pa, schema.field(index).type) for index, _ in kept]

    def blocks(step: int):
        sent = False
        for batch in batches(step):
            for start in range(0, batch.num_rows, step):
                part = batch.slice(start, step)
                sent = True
                yield [convert(part.column(index)) for index, convert in kept]
        if not sent:
            empty = schema.empty_table()
            yield [convert(empty.column(index)) for index, convert in kept]

    names = unique_names([schema.field(index).name or f"c{index + 1}" for index, _ in kept])
    return Table(names, rows, units=units, batches=blocks)


def _unit(pa, kind) -> str:
    return "s" if pa.types.is_time(kind) else ""

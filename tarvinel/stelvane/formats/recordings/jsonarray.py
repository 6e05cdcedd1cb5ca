"""A file that holds one JSON array of objects, `[{"t": 0, "v": 1.5}, ...]`:
one row per object, a column per key in the order keys first come (nested
keys as `a.b`), read whole. Numbers (booleans as 0/1) make number columns,
ISO 8601 texts time columns, other texts text columns; a key an object
lacks is missing (NaN) in its row. An element that is no object is a
problem of its own.

This module imports no Qt: the producer process uses it.
"""

from datetime import datetime, timezone
import json

import numpy as np

from ...protocol import TIME
from .columnar import RecordingError, Skipped, Table, send_recording, unique_names

# Elements named one by one among the problems; the rest are counted.
_NAMED = 3


def read(recording) -> str | None:
    text = recording.whole().decode("utf-8-sig", "replace")
    try:
        items = json.loads(text)
    except json.JSONDecodeError as error:
        raise RecordingError(f"no valid JSON array (cut short?): {error.msg} at line "
                             f"{error.lineno}, column {error.colno}") from None
    except RecursionError:
        raise RecordingError("no JSON array a reader can take: nested too deep") from None
    if not isinstance(items, list):
        raise RecordingError("no JSON array")
    columns: dict[str, list] = {}
    bad = []
    for number, item in enumerate(items):
        if not isinstance(item, dict):
            bad.append(number)
        else:
            for key, value in dict(_flat(item)).items():
                columns.setdefault(key, [None] * number).append(value)
        for values in columns.values():
            values.extend([None] * (number + 1 - len(values)))
    _say_bad(recording, bad, len(items))
    return send_recording(recording, _table(columns, len(items) - len(bad), bad), Skipped())


def _flat(item: dict, prefix: str = ""):
    for key, value in item.items():
        if isinstance(value, dict):
            yield from _flat(value, f"{prefix}{key}.")
        else:
            yield f"{prefix}{key}", value


def _say_bad(recording, bad: list[int], total: int) -> None:
    if bad:
        named = ", ".join(str(n + 1) for n in bad[:_NAMED])
        more = f" and {len(bad) - _NAMED} more" if len(bad) > _NAMED else ""
        recording.problem(f"{recording.name}: {len(bad)} of {total} elements are no object, "
                          f"not read: element {named}{more}")


def _table(columns: dict[str, list], rows: int, bad: list[int]) -> Table:
    keep = np.ones(rows + len(bad), bool)
    keep[bad] = False
    arrays, kinds = [], []
    for values in columns.values():
        array, kind = _column(values)
        arrays.append(array[keep])
        kinds.append(kind)
    return Table(unique_names(list(columns)), rows,
                 lambda start, stop: [a[start:stop] for a in arrays], kinds=kinds)


def _column(values: list) -> tuple[np.ndarray, str | None]:
    """Numbers as float64; texts that are all ISO 8601 times as epoch
    seconds; other texts (and lists) as words."""
    present = [v for v in values if v is not None]
    if all(isinstance(v, (int, float)) for v in present):
        return np.array([np.nan if v is None else float(v) for v in values]), None
    if all(isinstance(v, str) for v in present):
        times = [_time(v) for v in present]
        if present and all(t is not None for t in times):
            return np.array([np.nan if v is None else _time(v) for v in values]), TIME
    words = np.array([None if v is None else v if isinstance(v, str) else json.dumps(v)
                      for v in values], dtype=object)
    return words, None


def _time(text: str) -> float | None:
    try:
        when = datetime.fromisoformat(text.replace("Z", "+00:00"))
    except ValueError:
        return None
    if when.tzinfo is None:
        return when.timestamp()  # local time, as the text reader takes it
    return when.astimezone(timezone.utc).timestamp()

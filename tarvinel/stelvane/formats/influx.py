"""InfluxDB's line protocol, one point a line:

    weather,site=a,room=2 temp_c=5.8,temp_f=42.5,ok=t,note="dry" 1264129200000000000

the measurement, its tags (text), its fields (numbers: `42i` an integer,
`t`/`f` booleans as 1/0, a quoted string as a word) and a timestamp in
nanoseconds since the epoch, stored as the time (the column `time`). Commas,
spaces and `=` inside names and tags are escaped with a backslash.

This module imports no Qt: the producer process uses it.
"""

import re

# Up to the first space that no backslash escapes, then the fields, then the time.
_POINT = re.compile(r'((?:[^ \\]|\\.)+) ((?:[^ "\\]|\\.|"(?:[^"\\]|\\.)*")+)(?: (-?\d+))?$')
_PIECE = re.compile(r'((?:[^,="\\]|\\.)+)=("(?:[^"\\]|\\.)*"|[^,]*)')
_BOOLEANS = {"t": 1, "true": 1, "T": 1, "True": 1, "TRUE": 1,
             "f": 0, "false": 0, "F": 0, "False": 0, "FALSE": 0}


def _unescaped(text: str) -> str:
    return re.sub(r"\\(.)", r"\1", text)


def _field(text: str):
    if text.startswith('"'):
        return _unescaped(text[1:-1])
    if text in _BOOLEANS:
        return _BOOLEANS[text]
    number = text[:-1] if text[-1:] in "iu" else text
    return float(number)  # ValueError: no point


def point_values(line: str) -> dict | None:
    """A line's values by name (`measurement`, the tags, the fields, `time`
    in nanoseconds), or None where it is no point."""
    match = _POINT.match(line.strip())
    if not match:
        return None
    series, fields, stamp = match.groups()
    measurement, *tags = re.split(r"(?<!\\),", series)
    if re.search(r"(?<!\\)=", measurement):
        return None  # label=value pairs, no point
    values = {"measurement": _unescaped(measurement)}
    for tag in tags:
        key, sep, value = tag.partition("=")
        if not sep or not key:
            return None
        values[_unescaped(key)] = _unescaped(value)
    pieces = _PIECE.findall(fields)
    if not pieces or ",".join(f"{k}={v}" for k, v in pieces) != fields:
        return None
    try:
        for key, value in pieces:
            values[_unescaped(key)] = _field(value)
    except ValueError:
        return None
    if stamp is not None:
        values["time"] = int(stamp)
    return values

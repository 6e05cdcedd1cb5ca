"""Text markers in a data file: one directive line per marker,

    #@marker time,1765357200.25,valve opened

the X it belongs to (the column name, as its axis names it), the place on
that X (a number in Python's notation; a time as seconds since the epoch)
and the marker's text, comma-separated with a text's quotes as in a
table's fields. Any other reader of the file takes the line for a comment.

This module imports no Qt: the producer reads markers, the window writes them.
"""

import csv
from dataclasses import dataclass
import io
import math

WORD = "marker"
# The longest marker text kept: a marker labels a place, it holds no document.
LONGEST_TEXT = 200
# The most markers the window keeps, and a source sends.
MOST_MARKERS = 1_000


@dataclass(frozen=True)
class Marker:
    x_name: str  # the X it belongs to: its axis' name ("time", "abs(freq)")
    x: float     # where on that X
    text: str


def marker_argument(marker: Marker) -> str:
    """The directive's argument (what follows `#@marker `)."""
    out = io.StringIO()
    csv.writer(out, lineterminator="").writerow(
        [marker.x_name, repr(float(marker.x)), " ".join(marker.text.splitlines())])
    return out.getvalue()


def marker_line(marker: Marker) -> str:
    """The whole directive line, without its line end."""
    return f"#@{WORD} {marker_argument(marker)}"


def parse_marker(argument: str) -> Marker:
    """The marker of a directive's argument; ValueError says what is wrong."""
    try:
        fields = next(csv.reader([argument.strip()]), [])
    except csv.Error as error:
        raise ValueError(f"a marker that does not read: {error}") from None
    if len(fields) < 3:
        raise ValueError("a marker is #@marker X,VALUE,TEXT")
    x_name, value, text = fields[0].strip(), fields[1].strip(), ",".join(fields[2:]).strip()
    try:
        x = float(value)
    except ValueError:
        raise ValueError(f"a marker's place is a number, not {value[:40]!r}") from None
    if not x_name or not math.isfinite(x):
        raise ValueError("a marker needs the name of its X and a finite place on it")
    return Marker(x_name, x, text[:LONGEST_TEXT])


def send_marker(sink, argument: str) -> None:
    """Hands the marker of a directive's argument to `sink.marker` (a sink
    without markers passes it over); ValueError says what is wrong."""
    marker = parse_marker(argument)
    tell = getattr(sink, "marker", None)
    if tell is not None:
        tell(marker.x_name, marker.x, marker.text)

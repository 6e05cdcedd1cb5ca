"""The formats a source's bytes may come in, and the factory that makes a
source's reader.

    auto.py       the reader every source uses: recognises a stream by its
                  first lines and reads it by the road that fits
    text/         rows of plain numbers under column names: the fast road
    table.py      a table of times, words and numbers (the typed road), laid
                  out by sniff.py (names, units, separator, kinds) and parsed
                  natively by tableblock.py
    keyed.py      label:value, >name:value and JSON lines, InfluxDB's line
                  protocol, text with pairs inside (ping), name/value
                  listings (nstat, Prometheus): lines.py, linevalues.py,
                  influx.py, textpairs.py, listing.py
    reading.py    ReadOptions: what the command line says about a stream
    layout.py     how the lines of a table are laid out
    account.py    where every line went: data, passed over with a kind, or a problem
    markers.py    #@marker lines: a text marker's X, place and text
    headerlines.py  a table's names and units lines
    units.py      numbers with units or multipliers glued on (4688k, 45%),
                  and bars between groups of fields
    recordings/   files in formats of their own (Parquet, Arrow, HDF5, netCDF,
                  MATLAB, NumPy, WAV, FITS, JSON arrays, Touchstone, compressed
                  text), told by their first bytes and read whole, one reader
                  module each; the file source asks it before the text reader

A reader turns the bytes of one stream into the feed's commands and reports
bad lines to `problem(text)`: take(bytes) as they come, finish(broken=False)
at the end of the stream, restart() when a new stream begins (a truncated
file, a new connection). Where it is strict, a line over the limits raises
LimitExceeded. Nothing else a line holds raises: a reader's own fault on a
line is a problem of that line, and reading goes on. Every line ends as data,
passed over with a kind, or a problem (account.py); LF, CRLF and a lone CR
each end a line.

This package imports no Qt: the producer process reads with it.
"""

from dataclasses import replace

from .auto import AutoReader
from .reading import FORMAT_CHOICES, PLAIN_TEXT, ReadOptions
from .sniff import AUTO
from .text.reader import TextReader
from .text.rows import LimitExceeded

# The readers by format name: the plain text reader alone, or the reader
# that takes whatever the options leave to it.
READERS = {
    PLAIN_TEXT: TextReader,
    **{name: AutoReader for name in FORMAT_CHOICES if name != PLAIN_TEXT},
}

__all__ = ["AUTO", "FORMAT_CHOICES", "READERS", "AutoReader", "LimitExceeded", "ReadOptions",
           "TextReader", "make_reader"]


def make_reader(sink, problem, *, name: str = "input", strict: bool = False, fmt: str | None = None,
                options: ReadOptions | None = None, lines=None, added_x: str | None = None):
    """A reader that hands the commands to `sink` (a Feed, or anything with
    its methods); `name` names the stream in problems, `strict` as the
    reader takes it. `options` say how the stream reads (ReadOptions: the
    format first); `fmt`, where given, names the format instead.
    `lines(name, account)` takes where the stream's lines went
    (account.py) as it changes; where `problem` is a status pipe's (a
    source's), the account goes there too, beside the problems. `added_x`
    (addedx.ARRIVAL for a live source, addedx.ROW for a file): the column a
    table whose X does not grow with its rows gets in front of the others."""
    options = options or ReadOptions()
    if fmt is not None:
        if fmt not in READERS:
            raise ValueError(f"no format {fmt!r} (one of {', '.join(READERS)})")
        options = replace(options, format=fmt)
    if options.format == PLAIN_TEXT:
        reader = TextReader(sink, problem, name=name, strict=strict)
    else:
        reader = AutoReader(sink, problem, name=name, strict=strict, options=options,
                            added_x=added_x)
    reader.tell_lines(lines or getattr(getattr(problem, "__self__", None), "lines", None))
    return reader

"""The formats a source's bytes may come in, and the factory that makes a
source's reader.

    text      rows of numbers under column names (formats/text/)
    layout.py how the lines of a table are laid out, as decided from a
              stream's first lines

A reader turns the bytes of one stream into the feed's commands and reports
bad lines to `problem(text)`: feed(bytes) as they come, finish(broken=False)
at the end of the stream, restart() when a new stream begins (a truncated
file, a new connection). Where it is strict, a line over the limits raises
LimitExceeded. A new format is a reader class and a line in READERS.

This package imports no Qt: the producer process reads with it.
"""

from .text.reader import TextReader
from .text.rows import LimitExceeded

# The readers by format name.
READERS = {
    "text": TextReader,
}
# The format of a stream that names none: the one its first lines show.
AUTO = "auto"

__all__ = ["AUTO", "READERS", "LimitExceeded", "TextReader", "make_reader"]


def make_reader(sink, problem, *, name: str = "input", strict: bool = False, fmt: str = AUTO):
    """A reader of format `fmt` (a name in READERS, or AUTO) that hands the
    commands to `sink` (a Feed, or anything with its methods); `name` names
    the stream in problems, `strict` as the reader takes it."""
    if fmt == AUTO:
        # Recognising a format by its first lines needs a second format to
        # tell apart; until then every stream is text.
        fmt = "text"
    try:
        reader = READERS[fmt]
    except KeyError:
        raise ValueError(f"no format {fmt!r} (one of {', '.join([AUTO, *READERS])})") from None
    return reader(sink, problem, name=name, strict=strict)

"""Where the data comes from: the sources a producer process runs.

    -                  text rows from standard input              stdin.py
    PATH               a text file, read from its start, then     file.py
                       followed as it grows
    tcp://HOST:PORT    text rows from one TCP connection at a     tcp.py
                       time (listens on HOST)
    serial:DEV[@BAUD]  text rows from a serial port               serial_port.py
    SCRIPT.py          a producer script: its produce(feed)       script.py
                       runs in the producer
    (none)             the simulated instrument                   instrument.py
    show(produce)      a produce(feed) function of the caller's   function.py

Every source is a Source (base.py): it runs in the producer process (see
producer.py) and writes the queue's commands through a Feed, reads its bytes
(if any) with a reader from formats.make_reader, and tells the window on the
status pipe (status.py) what the queue cannot carry. Reading a stream so that
every wait watches the window's stop is in streams.py.

A SOURCE text names its source through SYNTAXES below: a new source is a
module of its own (a class with from_text, describe, settings_key and run)
and one line there.

This package imports no Qt: it runs in the producer process.
"""

from ..formats.reading import ReadOptions
from .base import Source, SourceError, SourceOptions, Syntax
from .file import FileSource
from .function import FunctionSource
from .instrument import InstrumentSource
from .script import ScriptSource
from .serial_port import SerialSource
from .status import Status
from .stdin import StdinSource
from .tcp import TcpSource

# The SOURCE texts and the sources they name, in the order they are tried:
# the first whose syntax a text has names its source.
SYNTAXES = (
    Syntax("exact", "-", StdinSource),
    Syntax("scheme", "tcp://", TcpSource),
    Syntax("scheme", "serial:", SerialSource),
    Syntax("suffix", ".py", ScriptSource),
    Syntax("path", "", FileSource),
)

__all__ = [
    "FileSource", "FunctionSource", "InstrumentSource", "ScriptSource", "SerialSource",
    "Source", "SourceError", "SourceOptions", "Status", "StdinSource", "SYNTAXES", "TcpSource",
    "source_from_text",
]


def source_from_text(text: str, *, follow: bool = True, stdin=None, reading=None) -> Source:
    """The source a SOURCE argument names; raises SourceError for one it
    cannot be. `follow`, `stdin` and `reading` (a ReadOptions) are for the
    sources that take them (see SourceOptions)."""
    if not text:
        raise SourceError("an empty source")
    options = SourceOptions(follow=follow, stdin=stdin, reading=reading or ReadOptions())
    for syntax in SYNTAXES:
        if syntax.matches(text):
            return syntax.source.from_text(text, options)
    raise SourceError(f"{text}: names no source")  # unreachable while a "path" syntax is last

"""Text rows from standard input: SOURCE "-".

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
from typing import ClassVar

from ..formats import ReadOptions, make_reader
from ..formats.addedx import ARRIVAL
from .streams import enlarge_pipe, read_stream


@dataclass
class StdinSource:
    """Text rows from standard input. `stdin` is a Connection around a
    duplicate of the window's standard input: a spawned process closes its
    own, and only descriptors handed over this way reach it (the producer
    process closes the window's copy once started)."""
    stdin: object = None
    describe: str = "standard input"
    settings_key: ClassVar[str] = "-"
    reading: ReadOptions = ReadOptions()

    @classmethod
    def from_text(cls, text: str, options) -> "StdinSource":
        return cls(options.stdin, reading=options.reading)

    def run(self, feed, status, stop) -> str | None:
        fd = self.stdin.fileno() if self.stdin is not None else 0
        enlarge_pipe(fd)
        reader = make_reader(feed, status.problem, name="stdin", options=self.reading,
                             added_x=ARRIVAL)
        if read_stream(fd, reader, stop, status) is None:
            return None
        # A writer killed in the middle of a line and a last line without a
        # line end look alike here: the line is taken, and the user told.
        cut = reader.finish()
        return "end of standard input" + (
            f" (its last line, {cut}, had no line end)" if cut else "")

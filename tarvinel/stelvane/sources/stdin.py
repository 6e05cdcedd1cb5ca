"""Text rows from standard input: SOURCE "-".

Its first bytes are looked at as a file's are (formats/recordings.py): a
recording redirected from a file (`stelvane - < run.parquet`) is read as
that file would be; binary data through a pipe, which no reader here takes
from a stream, is one clear problem rather than garbage read as text.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import os
import stat
from typing import ClassVar

from ..formats import AUTO, ReadOptions, make_reader
from ..formats import recordings
from ..formats.addedx import ARRIVAL
from .streams import enlarge_pipe, read_stream

# The first bytes are looked at once they hold a line end or this many.
_ENOUGH_HEAD = 128


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
        if _whole_file(fd):
            found = recordings.recognise(os.pread(fd, recordings.HEAD_BYTES, 0), "",
                                         texts=self.reading.format == AUTO)
            if found == recordings.BINARY_FILE:
                status.problem(f"stdin: {found}")
                return f"stdin: {found}"
            if found is not None:
                return recordings.read(found, _StdinRecording(
                    f"/proc/self/fd/{fd}", feed, status.problem, status.info, stop))
        enlarge_pipe(fd)
        reader = BinaryGuard(make_reader(feed, status.problem, name="stdin",
                                         options=self.reading, added_x=ARRIVAL),
                             status.problem)
        if read_stream(fd, reader, stop, status) is None:
            return None
        # A writer killed in the middle of a line and a last line without a
        # line end look alike here: the line is taken, and the user told.
        cut = reader.finish()
        if reader.refused:
            return reader.refused
        return "end of standard input" + (
            f" (its last line, {cut}, had no line end)" if cut else "")


class _StdinRecording(recordings.Recording):
    """A recording redirected to standard input: named so in problems."""
    name = "stdin"


def _whole_file(fd: int) -> bool:
    """Whether standard input is a regular file read from its start (it can
    then be opened again by its descriptor, as the file)."""
    return stat.S_ISREG(os.fstat(fd).st_mode) and os.lseek(fd, 0, os.SEEK_CUR) == 0 and \
        os.path.exists(f"/proc/self/fd/{fd}")


class BinaryGuard:
    """A reader in front of standard input's reader that looks at the first
    bytes first: binary data (a recording piped in) is refused with one
    problem, and the rest of the stream is passed over; text goes on to
    `reader` as it came."""

    def __init__(self, reader, problem):
        self.reader, self.problem = reader, problem
        self.head: bytes | None = b""  # None once looked at
        self.refused: str | None = None

    def take(self, data: bytes) -> None:
        if self.head is None:
            if not self.refused:
                self.reader.take(data)
            return
        self.head += data
        if b"\n" in self.head or len(self.head) >= _ENOUGH_HEAD:
            self._look()

    def _look(self) -> None:
        head, self.head = self.head, None
        found = recordings.recognise(head[:recordings.HEAD_BYTES], "", texts=False)
        if found is None:
            self.reader.take(head)
            return
        what = "" if found == recordings.BINARY_FILE else f" ({found.name})"
        self.refused = (f"binary data on standard input{what}: "
                        f"save it to a file and open that (stelvane FILE)")
        self.problem(self.refused)

    def finish(self, **options):
        if self.head:
            self._look()
        return None if self.refused else self.reader.finish(**options)

"""Bytes of a stream as blocks of whole lines, with the line-length limit,
and where a stream's problems go: what every reader takes its lines through.

This module imports no Qt: the producer process uses it.
"""

import re

from ..protocol import FeedClosed
from .account import CONTINUED_MARK, LineAccount
from .encoding import Transcoder
from .text.rows import MAX_LINE_BYTES, LimitExceeded, excerpt


class LineProblems:
    """Where a stream's problems go: `problem("<name> line N: why")`. A line
    over the limits is skipped and reported, or, where `strict`, raises
    LimitExceeded. `account` counts where the stream's lines went."""

    def __init__(self, problem, name: str, strict: bool):
        self.problem = problem
        self.name = name
        self.strict = strict
        self.account = LineAccount()
        self.lines = None  # lines(name, account as a dict): where the account goes
        self._told = -1

    def tell(self) -> None:
        """Hands the account on where it changed since it last was."""
        if self.lines is not None and self.account.changes != self._told:
            self._told = self.account.changes
            self.lines(self.name, self.account.as_dict())

    def reject(self, why: str, line_number: int | None, lines: int = 1) -> None:
        """Lines that give no row: reported, and counted as problems."""
        self.report(why, line_number)
        self.account.add_problem(lines)

    def report(self, why: str, line_number: int | None = None) -> None:
        where = f"{self.name} line {line_number}" if line_number else self.name
        self.problem(f"{where}: {why}")

    def over_limit(self, what: str, line_number: int) -> None:
        if self.strict:
            raise LimitExceeded(f"{self.name} line {line_number}: {what}")
        self.reject(f"{what}; skipped", line_number)


def take_safely(take, data: bytes, first: int, count: int, problems: LineProblems) -> None:
    """`take(data, first, count)`, where an exception inside the reader is
    no end of the stream: the lines it had not accounted for are taken again
    one by one, and a line that raises on its own is one problem naming it.
    (A line over the limits where the reader is strict, and a closed window,
    do end it.)"""
    account = problems.account
    before = account.accounted
    try:
        take(data, first, count)
        return
    except (LimitExceeded, FeedClosed):
        raise
    except Exception:  # noqa: BLE001 - a fault of the reader, told as a problem
        done = account.accounted - before
    lines = data.split(b"\n")[:count]
    for index in range(max(0, done), len(lines)):
        line, number = lines[index] + b"\n", first + index
        before = account.accounted
        try:
            take(line, number, 1)
        except (LimitExceeded, FeedClosed):
            raise
        except Exception as error:  # noqa: BLE001
            text = excerpt(line.decode("utf-8", "replace").strip())
            problems.report(f"could not be read ({type(error).__name__}: "
                            f"{excerpt(str(error), 60)}): {text}", number)
            if account.accounted == before:
                account.add_problem()


_MARK = CONTINUED_MARK.encode()
_LONE_CR = re.compile(rb"\r(?!\n)")


def joined(data: bytes) -> bytes:
    """Whole lines where some end in a backslash: such a line and the next
    are one line (a blank between them), in the place of the first; each
    line joined on stays as a CONTINUED_MARK line, passed over as continued,
    so that the lines after keep their numbers."""
    lines = data.split(b"\n")[:-1]
    out, index = [], 0
    while index < len(lines):
        end = index
        while end < len(lines) - 1 and lines[end].rstrip(b"\r").endswith(b"\\"):
            end += 1
        pieces = [line.rstrip(b"\r")[:-1] for line in lines[index:end]] + [lines[end]]
        out.append(b" ".join(pieces))
        out.extend([_MARK] * (end - index))
        index = end + 1
    return b"\n".join(out) + b"\n"


class WholeLines:
    """Hands `take(data, line_number, lines)` the whole lines of the bytes
    fed (bytes ending in a newline), the number of the first of them (from
    1) and how many there are; an unfinished last line waits for its rest.
    A line longer than MAX_LINE_BYTES is dropped up to its end and told to
    `problems.over_limit(what, line_number)`; `lines` counts the lines seen
    (and the account of `problems` their total). An exception inside `take`
    is a problem of the line that raised (take_safely)."""

    def __init__(self, take, problems: LineProblems):
        self._take = take
        self._problems = problems
        self._transcoder = Transcoder(
            lambda why, lines: problems.report(why, self.lines + 1 + lines))
        self.restart()

    @property
    def encoding(self) -> str | None:
        """What the stream is read as (encoding.py), once its first bytes came."""
        return self._transcoder.encoding

    def _deliver(self, data: bytes, first: int, count: int) -> None:
        self._problems.account.saw(count)
        # (One scan for a backslash at all: rows of numbers hold none.)
        if b"\\" in data and (b"\\\n" in data or b"\\\r\n" in data):
            data = joined(data)
        take_safely(self._take, data, first, count, self._problems)

    def restart(self) -> None:
        self.lines = 0
        self._pending = b""
        self._skipping = False
        self._cr = False  # the bytes so far ended in a CR: a line end, or half of CRLF
        self._transcoder.restart()

    def take(self, data: bytes) -> None:
        data = self._transcoder.take(data)
        account = self._problems.account
        if self._transcoder.encoding not in (None, account.encoding, "utf-8"):
            # (A reader handed the stream on gets it as UTF-8: the first says.)
            account.encoding = self._transcoder.encoding
            account.changes += 1
        self._take_utf8(data)

    def transcode(self, data: bytes, end: bool = False) -> bytes:
        """Bytes of the stream as UTF-8 (and, at its `end`, those held back),
        for a reader this one has handed the stream on to."""
        data = self._transcoder.take(data)
        return data + self._transcoder.finish() if end else data

    def _take_utf8(self, data: bytes) -> None:
        if self._cr:
            data, self._cr = b"\r" + data, False
        if b"\r" in data:
            if data.endswith(b"\r"):
                data, self._cr = data[:-1], True
            # A lone CR ends a line as LF and CRLF do (old Macs, some devices).
            data = _LONE_CR.sub(b"\n", data)
        if self._skipping:
            end = data.find(b"\n")
            if end < 0:
                return
            self._skipping = False
            self.lines += 1  # counted in the account when it grew too long
            data = data[end + 1:]
        end = self._last_end(data)
        if end < 0:
            self._pending += data
        else:
            whole = self._pending + data[:end + 1] if self._pending else data[:end + 1]
            self._pending = data[end + 1:]
            first, count = self.lines + 1, whole.count(b"\n")
            self.lines += count
            self._deliver(whole, first, count)
        if len(self._pending) > MAX_LINE_BYTES:
            self._pending = b""
            self._skipping = True
            self._problems.account.saw(1)
            self._problems.over_limit(f"a line longer than {MAX_LINE_BYTES:,} bytes",
                                      self.lines + 1)

    def _last_end(self, data: bytes) -> int:
        """Where the last whole line of the bytes ends: a line that ends in a
        backslash is no whole line yet (its next line belongs to it)."""
        end = data.rfind(b"\n")
        while end >= 0:
            before = (self._pending[-2:] + data[max(0, end - 2):end])[-2:]
            if not (before.endswith(b"\\") or before == b"\\\r"):
                return end
            end = data.rfind(b"\n", 0, end)
        return end

    def drain(self) -> bytes:
        """The unfinished line held so far, handed over (another reader takes
        the stream on from here)."""
        rest, self._pending = self._pending + (b"\r" if self._cr else b""), b""
        self._cr = False
        return rest

    def finish(self, *, broken: bool = False) -> int | None:
        """The stream has ended: its unfinished last line is taken as a line,
        or dropped where the stream broke off. Returns that line's number, or
        None when the stream ended at a line end."""
        self._take_utf8(self._transcoder.finish())
        if self._cr:
            self._cr = False
            self._take_utf8(b"\n")
        if not self._pending:
            return None
        # What waits: lines ending in a backslash (whole, waiting for the
        # next) and the unfinished last line, either maybe alone.
        pending, self._pending = self._pending, b""
        ended = pending.endswith(b"\n")
        if broken:
            end = pending.rfind(b"\n") + 1
            whole, rest = pending[:end], pending[end:]
        else:
            whole, rest = (pending if ended else pending + b"\n"), b""
        if whole:
            first, count = self.lines + 1, whole.count(b"\n")
            self.lines += count
            self._deliver(whole, first, count)
        if rest:  # cut short: the source tells the user which line
            self.lines += 1
            self._problems.account.saw(1)
            self._problems.account.add_problem()
        return None if ended else self.lines

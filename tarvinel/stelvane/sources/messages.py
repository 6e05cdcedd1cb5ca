"""Lines from messages (datagrams, MQTT, WebSocket and ZeroMQ messages) and
from streams that reconnect, and the columns of several senders side by side.

Every sender (a UDP address, an MQTT topic, a connection that comes back)
has its own reader, which lasts as long as the source: a message or a new
connection goes on under the columns it has. So that a sender may repeat its
column names (in every message, or when it reconnects), the first line of
each message and of each new connection is looked at first:

- names equal to the sender's columns change nothing; other names are new
  columns (a new run), if they are printable text: a line of garbage is
  rejected as a row, so that a flood of it cannot rename the columns;
- numbers as many as the columns are rows under them;
- on a new connection, numbers of another count are the tail of a line cut
  by the reconnection: dropped, and said so.

A message boundary is a line boundary: a payload without a final newline
gets one. The senders' columns come together in the feed's (a Mux): a sender
alone, or senders with the same columns, give theirs unchanged; otherwise
each sender's names are prefixed with its own (`a/temp/t`; a sender whose
only column is an unnamed c1 is named by its prefix alone), and a row of one
sender holds NaN in the columns of the others.

This module imports no Qt: it runs in the producer process.
"""

import numpy as np

from ..formats import make_reader
from ..protocol import NUMBER, TEXT, Columns
from ..formats.text.rows import MAX_LINE_BYTES, is_number, separator_of, split_fields

# A datagram or message longer than this is dropped, and said so.
MAX_MESSAGE_BYTES = 1 << 20
# Bytes of messages taken at once before their rows go to the feed: few
# large blocks for the parser and the queue, and a bounded wait.
BATCH_BYTES = 512 << 10
NEVER, WHEN_DIFFERENT, ALWAYS = "never", "when different", "always"


class Part:
    """One sender's share of the feed's columns: a sink for its reader.
    Patterns and traces go to the feed as they are."""

    def __init__(self, mux, prefix: str):
        self.mux, self.prefix = mux, prefix
        self.names: list[str] | None = None
        self.given = None  # the names as the reader gave them: a list, or a Columns
        self.start = 0

    def columns(self, names) -> None:
        # Names with a text column go on even when the same: the reader's
        # codes for its words start afresh with them.
        words_anew = isinstance(names, Columns) and TEXT in names.kinds
        if (words_anew or list(names) != self.names
                or _kinds_units(names) != _kinds_units(self.given)):
            self.names, self.given = list(names), names
            self.mux.arrange()

    def rows(self, block, words=None) -> None:
        self.mux.rows(self, block, words)

    def roll(self) -> None:
        self.mux.feed.roll()

    def prefixed(self) -> list[str]:
        if not self.prefix:
            return self.names
        if self.names == ["c1"]:
            return [self.prefix]
        return [f"{self.prefix}/{name}" for name in self.names]

    def __getattr__(self, name):  # pattern, trace_pattern, trace_columns, trace
        return getattr(self.mux.feed, name)


class Mux:
    """The feed's columns from its parts' (see the module's text)."""

    def __init__(self, feed, prefixing: str = NEVER):
        self.feed, self.prefixing = feed, prefixing
        self.parts: list[Part] = []
        self.width = 0
        self.shared = True  # every part's rows go to the feed as they are

    def part(self, prefix: str = "") -> Part:
        self.parts.append(Part(self, prefix))
        return self.parts[-1]

    def arrange(self) -> None:
        named = [part for part in self.parts if part.names is not None]
        different = len({tuple(part.names) for part in named}) > 1
        self.shared = self.prefixing == NEVER or (self.prefixing == WHEN_DIFFERENT
                                                  and not different)
        if self.shared:
            merged = named[-1].given  # NEVER: a single part
        else:
            merged, kinds, units = [], [], []
            for part in named:
                part.start = len(merged)
                merged = merged + part.prefixed()
                part_kinds, part_units = _kinds_units(part.given) or (
                    (NUMBER,) * len(part.names), ("",) * len(part.names))
                kinds, units = kinds + list(part_kinds), units + list(part_units)
            if set(kinds) != {NUMBER} or any(units):
                merged = Columns(merged, kinds, units)
        self.width = len(merged)
        # A reader's Columns always goes on: a new stream's words start afresh.
        if list(merged) != self.feed.point_columns or isinstance(merged, Columns):
            self.feed.columns(merged)

    def rows(self, part: Part, block: np.ndarray, words=None) -> None:
        if self.shared:
            self.feed.rows(block, words)
            return
        whole = np.full((len(block), self.width), np.nan, block.dtype)
        whole[:, part.start:part.start + block.shape[1]] = block
        self.feed.rows(whole, {part.start + c: w for c, w in (words or {}).items()})


class Lines:
    """One sender's lines, through its own reader, into its part."""

    def __init__(self, part: Part, problem, name: str, reading=None):
        self.part, self.problem, self.name = part, problem, name
        self.reader = make_reader(part, problem, name=name, options=reading)
        self._head = None  # a new connection's first bytes, until its first line is whole

    def messages(self, payloads: list[bytes]) -> None:
        """Whole messages (datagrams, MQTT, WebSocket or ZeroMQ messages),
        parsed as one block (the first alone while the sender has no columns
        yet: it may be the one that names them). A message over
        MAX_MESSAGE_BYTES is dropped, and said so."""
        kept = [p for p in payloads if len(p) <= MAX_MESSAGE_BYTES]
        if len(kept) < len(payloads):
            self.problem(f"{self.name}: {len(payloads) - len(kept)} message(s) over "
                         f"{MAX_MESSAGE_BYTES:,} bytes; dropped")
        if kept and self.part.names is None:
            self.reader.take(self._first_line_seen(_line_ended(kept[0]), resumed=False))
            kept = kept[1:]
        if kept:
            self.reader.take(b"".join(self._first_line_seen(_line_ended(p), resumed=False)
                                      for p in kept))

    def connected(self) -> None:
        """A new connection begins: its first line is looked at when whole."""
        self._head = b"" if self.part.names is not None else None

    def take(self, data: bytes) -> None:
        """The next bytes of a connection."""
        if self._head is not None:
            data = self._head + data
            if b"\n" not in data and len(data) <= MAX_LINE_BYTES:
                self._head = data
                return
            self._head = None
            data = self._first_line_seen(data, resumed=True)
        self.reader.take(data)

    def broken(self) -> None:
        """The connection went away: its unfinished line is dropped, and said so."""
        self._head = None
        cut = self.reader.finish(broken=True)
        if cut:
            self.problem(f"{self.name}: the connection went away in the middle of line {cut}; "
                         "the unfinished line was dropped")

    def _first_line_seen(self, data: bytes, resumed: bool) -> bytes:
        end = data.find(b"\n")
        if self.part.names is None or end < 0:
            return data
        line = data[:end].decode("utf-8", "replace").strip()
        if not line or line[0] == "#":
            return data
        fields = split_fields(line, separator_of(line))
        if not all(map(_is_number, fields)):
            # Names: the same change nothing. Bytes that are no text are no
            # names (a flood of garbage must not rename the columns): the
            # reader rejects them as a row.
            return b"#@columns " + data if _is_text(data[:end]) else data
        if len(fields) == len(self.part.names) or not resumed:
            return data
        self.problem(f"{self.name}: the first line after reconnecting was cut short; dropped")
        return data[end + 1:]


class BySender:
    """A Lines per sender, at most `limit` of them: the messages of a
    further sender are dropped, and said so, so that a flood from many
    senders cannot grow memory. A kind of sender defines `named(sender)`:
    the prefix of its columns and its name in problems, and
    `refused(sender)`: the problem when a further one's messages drop."""
    limit = 0

    def __init__(self, mux: Mux, problem, reading=None):
        self.mux, self.problem, self.reading = mux, problem, reading
        self.lines: dict[object, Lines] = {}

    def take(self, messages) -> None:
        """(sender, payload) pairs, in the order they came."""
        for sender, payloads in group_by_sender(messages):
            lines = self.lines.get(sender) or self._new(sender)
            if lines is not None:
                lines.messages(payloads)

    def _new(self, sender) -> Lines | None:
        if len(self.lines) >= self.limit:
            self.problem(self.refused(sender))
            return None
        prefix, name = self.named(sender)
        self.lines[sender] = Lines(self.mux.part(prefix), self.problem, name, self.reading)
        return self.lines[sender]


def _line_ended(payload: bytes) -> bytes:
    """A message boundary is a line boundary."""
    return payload if payload.endswith(b"\n") else payload + b"\n"


def _kinds_units(names):
    """A Columns' kinds and units; None for a plain list of names."""
    return (names.kinds, names.units) if isinstance(names, Columns) else None


def group_by_sender(messages):
    """(sender, payload) pairs as (sender, [payloads]) for each sender's
    consecutive messages: their order within a sender is kept."""
    groups = []
    for sender, payload in messages:
        if groups and groups[-1][0] == sender:
            groups[-1][1].append(payload)
        else:
            groups.append((sender, [payload]))
    return groups


def _is_text(line: bytes) -> bool:
    try:
        return line.decode("utf-8").rstrip("\r").isprintable()
    except UnicodeDecodeError:
        return False


def _is_number(field: str) -> bool:
    return bool(field.strip()) and is_number(field)

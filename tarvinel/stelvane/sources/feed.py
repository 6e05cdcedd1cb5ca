"""The feed: how a producer (a script's `produce(feed)`, a text source) sends
its data to the window.

    def produce(feed):
        feed.columns(["time", "volts"])
        feed.pattern("time,volts")
        while feed.sleep(0.01):               # False once the window has closed
            feed.row([time.time(), read_volts()])

One method per command of the queue: `columns`, `row` and `rows`, `roll`,
`trace_columns`, `trace`, `pattern`, `trace_pattern`; and `marker`, a text
marker the window lists and draws, sent beside the queue. The arguments are
checked here, in the producer, so that a mistake raises at the line that made
it, before anything is queued: a row whose length does not match the columns,
values that are no numbers, rows before any column names.

When the window is behind, a command waits (the queue is bounded, and so are
the bytes waiting in it) instead of filling memory. Once the window has
closed, every command raises FeedClosed, which ends `produce`.

This module imports no Qt: it runs in the producer process.
"""

import numbers
import queue as queue_module
import time

import numpy as np

from ..formats.markers import Marker

from ..protocol import (NUMBER, PD, PN, PXY, ROLL, TD, TIME, TN, TXY, Columns, FeedClosed,  # noqa: F401
                        TextRows, default_pattern, first_column_pattern)

# Bytes of row data this process may have queued that the window has not
# taken yet; beyond that a command waits. (The queue bounds the items, not
# their size.)
BYTES_IN_FLIGHT = 32 << 20
# How often a producer that never waits looks whether the window has closed.
STOP_CHECK_INTERVAL = 0.05
# How long one wait for room in the queue lasts before looking at the window.
WAIT_STEP = 0.05


def put_until_stopped(queue, stop, item) -> bool:
    """Puts `item`, waiting for room as long as `stop` (the reading end of a
    pipe, or None: never) is not readable; False once it is, with the item
    not put."""
    while stop is None or not stop.poll():
        try:
            queue.put(item, True, WAIT_STEP)
            return True
        except queue_module.Full:
            continue
    return False




def _names(names, what: str) -> list[str]:
    if isinstance(names, str) or not hasattr(names, "__iter__"):
        raise TypeError(f"{what}: a list of names, not {type(names).__name__}")
    names = list(names)
    if not names:
        raise ValueError(f"{what}: at least one name")
    for name in names:
        if not isinstance(name, str):
            raise TypeError(f"{what}: names are text, not {name!r}")
    return names


def _columns(names, kinds, units):
    """The names as a list, or as a Columns where kinds or units say more
    than that every column holds numbers."""
    if isinstance(names, Columns):
        kinds = names.kinds if kinds is None else kinds
        units = names.units if units is None else units
    names = _names(names, "columns")
    if kinds is None and units is None:
        return names
    columns = Columns(names, kinds, units)  # raises for lengths or kinds that do not fit
    if set(columns.kinds) == {NUMBER} and not any(columns.units):
        return names
    return columns


def _described(columns) -> tuple | None:
    if columns is None:
        return None
    return (list(columns), getattr(columns, "kinds", None), getattr(columns, "units", None))


def _words(words, width: int | None) -> dict:
    """Checked words of text columns: {column index: [str, ...]}, the empty
    lists left out."""
    if not words:
        return {}
    checked = {}
    for column, learnt in dict(words).items():
        if not isinstance(column, int) or not 0 <= column < (width or 0):
            raise ValueError(f"rows: words for column {column!r} of {width} columns")
        learnt = list(learnt)
        if not all(isinstance(word, str) for word in learnt):
            raise TypeError(f"rows: the words of column {column} are text")
        if learnt:
            checked[column] = learnt
    return checked


def _block(rows, width: int | None, what: str) -> np.ndarray:
    """Rows as a 2-D float or complex array of `width` columns."""
    if width is None:
        raise ValueError(f"{what}: rows before any column names")
    try:
        block = rows if isinstance(rows, np.ndarray) else np.asarray(rows)
    except (ValueError, TypeError):
        raise ValueError(f"{what}: rows of different lengths, or values that are no numbers") \
            from None
    if block.dtype.kind not in "fc":
        if block.dtype.kind not in "biu":
            raise TypeError(f"{what}: rows of numbers, not {block.dtype}")
        block = block.astype(np.float64)
    if block.ndim != 2:
        raise ValueError(f"{what}: a 2-D block of rows, not {block.ndim}-D")
    if block.shape[1] != width:
        raise ValueError(f"{what}: rows of {block.shape[1]} values, {width} columns expected")
    return block


class Feed:
    """Sends commands into `queue`; `stop` (the reading end of a pipe, or
    None) becomes readable when the window has closed.

    `pattern` and `trace_pattern` are sent first when given; a pattern the
    producer sends later replaces them. While no pattern was given, new column
    names bring the first-column pattern with them; the same names again (a
    new connection of the same client, a file read anew) leave the pattern
    alone, so that one the user typed in the window stays; the same holds for
    trace column names and the trace pattern."""

    def __init__(self, queue, stop=None, *, pattern: str | None = None,
                 trace_pattern: str | None = None, bytes_in_flight: int = BYTES_IN_FLIGHT):
        self.queue = queue
        self._stop = stop
        self._bytes_in_flight = bytes_in_flight
        self._unchecked_bytes = 0
        self._closed = False
        self._next_stop_check = time.monotonic() + STOP_CHECK_INTERVAL
        self.point_columns: list[str] | None = None
        self._point_columns = None  # as sent: a list, or a Columns
        self.trace_column_names: list[str] | None = None
        self.rows_sent = 0  # point rows and trace rows, for whoever counts what it read
        self.tell_marker = None  # takes a formats.markers.Marker (the status pipe's)
        self._pattern_given = {PXY: False, TXY: False}
        if pattern is not None:
            self.pattern(pattern)
        if trace_pattern is not None:
            self.trace_pattern(trace_pattern)

    # --- commands ---------------------------------------------------------------

    def columns(self, names, kinds=None, units=None, *, pattern: str | None = None) -> None:
        """New point column names (the run so far ends when they differ);
        `kinds` (NUMBER, TIME or TEXT per name) and `units` (a text per name)
        say what the columns hold, where they are more than numbers: then
        the names travel as a Columns (a Columns given as `names` brings
        its own). `pattern`, when given, follows them as the point pattern."""
        columns = _columns(names, kinds, units)
        changed = _described(columns) != _described(self._point_columns)
        self._put((PN, columns))
        self.point_columns, self._point_columns = list(columns), columns
        if pattern is not None:
            self.pattern(pattern)
        elif changed and not self._pattern_given[PXY]:
            self._put((PXY, default_pattern(columns, getattr(columns, "kinds", None))))

    def row(self, values) -> None:
        """One point row: a number per column."""
        if self.point_columns is None:
            raise ValueError("row: a row before any column names")
        values = list(values)
        if len(values) != len(self.point_columns):
            names = self.point_columns
            shown = ", ".join(names[:8]) + (", ..." if len(names) > 8 else "")
            raise ValueError(f"row: {len(values)} values, {len(names)} columns expected ({shown})")
        for value in values:
            if not isinstance(value, numbers.Number) or isinstance(value, bool):
                raise TypeError(f"row: values are numbers, not {value!r}")
        self._put((PD, values))
        self.rows_sent += 1

    def rows(self, block, words=None) -> None:
        """Point rows: a 2-D array (or a list of rows), a row per line.
        `words`: for text columns, {column index: the words first used in
        these rows, in the order of their codes}; they travel with the
        rows as a TextRows."""
        width = None if self.point_columns is None else len(self.point_columns)
        block = _block(block, width, "rows")
        words = _words(words, width)
        if len(block):
            self._put((PD, TextRows(block, words) if words else block), block.nbytes)
            self.rows_sent += len(block)

    def roll(self) -> None:
        """Ends the current run: it goes to the history plot."""
        self._put((ROLL, None))

    def trace_columns(self, names, *, pattern: str | None = None,
                      default_pattern: str | None = None) -> None:
        """New trace column names; `pattern`, when given, follows them as the
        trace pattern. `default_pattern` is the pattern new names bring
        where none was given (else the first column against the others)."""
        names = _names(names, "trace_columns")
        changed = names != self.trace_column_names
        self._put((TN, names))
        self.trace_column_names = names
        if pattern is not None:
            self.trace_pattern(pattern)
        elif changed and not self._pattern_given[TXY]:
            self._put((TXY, default_pattern or first_column_pattern(names)))

    def trace(self, block) -> None:
        """A whole trace: a 2-D array (or a list of rows) under the trace columns."""
        width = None if self.trace_column_names is None else len(self.trace_column_names)
        block = _block(block, width, "trace")
        if not len(block):
            raise ValueError("trace: a trace of no rows")
        self._put((TD, block), block.nbytes)
        self.rows_sent += len(block)

    def pattern(self, text: str) -> None:
        """The point (X,Y) pattern, as typed into the toolbar's field."""
        self._pattern(PXY, text)

    def trace_pattern(self, text: str) -> None:
        """The trace pattern."""
        self._pattern(TXY, text)

    def marker(self, x_name: str, x: float, text: str = "") -> None:
        """A text marker at `x` on the X named `x_name` (a time as seconds
        since the epoch), told to the window on its status pipe; dropped
        where no window listens."""
        marker = Marker(str(x_name), float(x), str(text))
        if self.tell_marker is not None:
            self.tell_marker(marker)

    def _pattern(self, word: str, text: str) -> None:
        if not isinstance(text, str):
            raise TypeError(f"a pattern is text, not {text!r}")
        self._put((word, text))
        self._pattern_given[word] = True

    # --- the window -----------------------------------------------------------------

    @property
    def closed(self) -> bool:
        """True once the window has closed."""
        if not self._closed and self._stop is not None and self._stop.poll():
            self._closed = True
        return self._closed

    def sleep(self, seconds: float) -> bool:
        """Waits `seconds`, or less when the window closes; False once it has."""
        if self._stop is None:
            time.sleep(max(0.0, seconds))
            return True
        if not self._closed and self._stop.poll(max(0.0, seconds)):
            self._closed = True
        return not self._closed

    def drain(self) -> bool:
        """Waits until the window has taken everything sent, or has closed;
        True when everything was taken."""
        while True:
            try:
                if self.queue.qsize() == 0:
                    return True
            except NotImplementedError:  # no qsize on this platform: trust the pipe
                return not self.closed
            if not self.sleep(0.02):
                return False

    def _put(self, item, nbytes: int = 0) -> None:
        if self._closed:
            raise FeedClosed("the window has closed")
        if nbytes:
            self._wait_for_bytes(nbytes)
        try:
            self.queue.put(item, False)
        except queue_module.Full:
            self._wait_and_put(item)
        if self._stop is not None and time.monotonic() >= self._next_stop_check:
            self._next_stop_check = time.monotonic() + STOP_CHECK_INTERVAL
            if self.closed:
                raise FeedClosed("the window has closed")

    def _wait_for_bytes(self, nbytes: int) -> None:
        """Waits while the items queued and not taken, each about this size,
        would hold more than the bytes allowed. The queue is asked only once
        a quarter of the allowance has been sent since it was last asked:
        what is waiting stays under 1.25 times the allowance."""
        self._unchecked_bytes += nbytes
        if self._unchecked_bytes < self._bytes_in_flight // 4:
            return
        self._unchecked_bytes = 0
        items = max(1, self._bytes_in_flight // nbytes)
        try:
            while self.queue.qsize() >= items:
                if not self.sleep(0.002):
                    raise FeedClosed("the window has closed")
        except NotImplementedError:  # no qsize on this platform: the queue's own bound
            pass

    def _wait_and_put(self, item) -> None:
        if not put_until_stopped(self.queue, self._stop, item):
            self._closed = True
            raise FeedClosed("the window has closed")


"""The status pipe: what the producer tells the window beside the queue.

The queue carries the data; the status pipe what the queue cannot carry:
problems (bad lines, connections closed for garbage), that the source has
ended and why, and the traceback of a script that raised. Messages:

    ("info", text)             what the source is doing (listening, waiting)
    ("problem", text, count)   count problems, the last of them described
    ("traceback", text)        an exception in a producer script
    ("ended", reason)          the source has ended; every row was taken
    ("reading", path)          a file's rows as they stand are being read
                               (from its start, or anew after a rewrite)
    ("read", facts)            ...and all of them were taken by the window:
                               {"rows", "columns", "read_seconds"}

A file says "reading" and "read" (sources/file.py): the window shows a
recording whole, and follows only rows written after it was read. The
window learns this here rather than from the rows, as only the file source
knows where its end was; the queue's commands stay the same, whatever the
source.

This module imports no Qt: it runs in the producer process.
"""

import time

# Problems passed on one by one per second; more are counted and sent as one.
PROBLEMS_PER_SECOND = 10


class Status:
    """The producer's end of the status pipe. A window that no longer reads
    loses the messages, never the producer its way."""

    def __init__(self, connection=None):
        self.connection = connection
        self._window_start = 0.0
        self._sent_in_window = 0
        self._held = 0          # problems counted but not yet sent
        self._held_text = ""

    def send(self, *message) -> None:
        if self.connection is None:
            return
        try:
            self.connection.send(message)
        except (OSError, EOFError):  # the window has gone
            self.connection = None

    @property
    def listening(self) -> bool:
        """Whether a window reads the messages (a source may wait for it)."""
        return self.connection is not None

    def info(self, text: str) -> None:
        self.send("info", text)

    def problem(self, text: str) -> None:
        now = time.monotonic()
        if now - self._window_start >= 1.0:
            self.flush()
            self._window_start, self._sent_in_window = now, 0
        if self._sent_in_window < PROBLEMS_PER_SECOND:
            self._sent_in_window += 1
            self.send("problem", text, 1)
        else:
            self._held += 1
            self._held_text = text

    def flush(self) -> None:
        """Sends the problems held back, as one message."""
        if self._held:
            count, self._held = self._held, 0
            self.send("problem", f"{count} more problem(s), the last: {self._held_text}", count)

    def tick(self) -> None:
        """Called now and then by a waiting source: held problems go out
        within about a second."""
        if self._held and time.monotonic() - self._window_start >= 1.0:
            self.flush()
            self._window_start, self._sent_in_window = time.monotonic(), 0

    def ended(self, reason: str) -> None:
        self.flush()
        self.send("ended", reason)

    def close(self) -> None:
        if self.connection is not None:
            self.connection.close()
            self.connection = None

"""The status pipe: what the producer tells the window beside the queue.

The queue carries the data; the status pipe what the queue cannot carry:
problems (bad lines, connections closed for garbage), that the source has
ended and why, and the traceback of a script that raised. Messages:

    ("info", text)             what the source is doing (listening, waiting)
    ("problem", text, count)   count problems, the last of them described
    ("lines", stream, account) where a text stream's lines went so far
                               (formats/account.py), sent at most a few
                               times a second and at the end
    ("traceback", text)        an exception in a producer script
    ("marker", marker)         a text marker the source read (formats/markers.py)
    ("ended", reason)          the source has ended; every row was taken
    ("reading", path, preview) a file's rows as they stand are being read
                               (from its start, or anew after a rewrite);
                               `preview`: only its first rows are shown
                               while it is read into the cache
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
# The least time between two accounts of a stream's lines.
LINES_INTERVAL = 0.25


class Status:
    """The producer's end of the status pipe. A window that no longer reads
    loses the messages, never the producer its way."""

    def __init__(self, connection=None):
        self.connection = connection
        self._window_start = 0.0
        self._sent_in_window = 0
        self._held = 0          # problems counted but not yet sent
        self._held_text = ""
        self._accounts = {}     # stream: its latest account of lines, not yet sent
        self._accounts_sent = 0.0

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

    def lines(self, stream: str, account: dict) -> None:
        """Where a stream's lines went so far: sent now, or with the next
        flush when one was sent less than LINES_INTERVAL ago."""
        self._accounts[stream] = account
        if time.monotonic() - self._accounts_sent >= LINES_INTERVAL:
            self._send_accounts()

    def _send_accounts(self) -> None:
        accounts, self._accounts = self._accounts, {}
        self._accounts_sent = time.monotonic()
        for stream, account in accounts.items():
            self.send("lines", stream, account)

    def flush(self) -> None:
        """Sends the problems held back, as one message, and the accounts."""
        if self._accounts:
            self._send_accounts()
        if self._held:
            count, self._held = self._held, 0
            self.send("problem", f"{count} more problem(s), the last: {self._held_text}", count)

    def tick(self) -> None:
        """Called now and then by a waiting source: held problems go out
        within about a second."""
        if self._held and time.monotonic() - self._window_start >= 1.0:
            self.flush()
            self._window_start, self._sent_in_window = time.monotonic(), 0
        elif self._accounts and time.monotonic() - self._accounts_sent >= LINES_INTERVAL:
            self._send_accounts()

    def ended(self, reason: str) -> None:
        self.flush()
        self.send("ended", reason)

    def close(self) -> None:
        if self.connection is not None:
            self.connection.close()
            self.connection = None

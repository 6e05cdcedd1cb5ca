"""What went wrong, kept for the user: a bounded log of problems with their
repeat counts, the one line each is shown as, and the exception hook that
turns uncaught errors of Qt slots and event handlers into problems.

No Qt here: the log is plain data, and the window decides how to show it.
"""

from collections import deque
from collections.abc import Callable
import re
import sys
import traceback

from ..dataset import DataError

# Problems kept for the tool tip of the problem counter.
PROBLEMS_KEPT = 50
# Characters of a problem's one-line description, and of a problem kept (a
# producer's traceback fits): a value of megabytes (a damaged settings
# file, a line of a stream) is named by its start and its length.
MESSAGE_LIMIT = 300
KEPT_LIMIT = 4000
# The first and the last problems a summary gives as text.
SUMMARY_FIRST, SUMMARY_LAST = 3, 3


def shortened(text: str, limit: int = MESSAGE_LIMIT) -> str:
    """`text`, or for a longer one its start and how long it is."""
    if len(text) <= limit:
        return text
    return f"{text[:limit]}… ({len(text):,} characters in all)"


def describe_problem(error: BaseException) -> str:
    """One line for the status bar about what went wrong."""
    if isinstance(error, re.error):
        return shortened(f"invalid pattern {error.pattern!r}: {error}")
    if isinstance(error, DataError):
        return shortened(str(error))
    text = shortened(str(error))
    name = type(error).__name__
    return f"{name}: {text}" if text else name


def _with_repeats(message: str, repeats: int) -> str:
    return message if repeats == 1 else f"{message} (×{repeats})"


class ProblemLog:
    """Every problem counted, the last `kept` distinct in a row kept.

    The same message again right after itself is one entry with a repeat
    count, so a fault that recurs at every row does not push the earlier,
    different problems out of the log.
    """

    def __init__(self, kept: int = PROBLEMS_KEPT):
        self.count = 0  # every problem, repeats included
        self.entries: deque[tuple[str, int]] = deque(maxlen=kept)  # (message, repeats)
        # The first entries ever, kept when the deque has let them go.
        self.first: list[tuple[str, int]] = []
        self._entries_made = 0

    def add(self, message: str, count: int = 1) -> None:
        """One problem, or `count` problems summed up in one message."""
        message = shortened(message, KEPT_LIMIT)
        self.count += count
        if self.entries and self.entries[-1][0] == message:
            self.entries[-1] = (message, self.entries[-1][1] + 1)
            if self._entries_made <= SUMMARY_FIRST:
                self.first[-1] = self.entries[-1]
        else:
            self.entries.append((message, 1))
            self._entries_made += 1
            if self._entries_made <= SUMMARY_FIRST:
                self.first.append(self.entries[-1])

    def texts(self, first: int = SUMMARY_FIRST, last: int = SUMMARY_LAST) -> list[str]:
        """The first and the last problems as the window shows them (each
        entry once, a repeated one with its count), oldest first."""
        first = min(first, len(self.first))
        last_entries = list(self.entries)[-last:] if last else []
        made = self._entries_made
        if made <= first + len(last_entries):  # they overlap: every entry, once
            shown = self.first[:made - len(last_entries)] + last_entries
        else:
            shown = self.first[:first] + last_entries
        return [_with_repeats(m, n) for m, n in shown]

    @property
    def text(self) -> str:
        """The newest problem as the status bar shows it."""
        return _with_repeats(*self.entries[-1]) if self.entries else ""

    @property
    def tool_tip(self) -> str:
        """The kept problems, oldest first, one a line."""
        return "\n".join(_with_repeats(m, n) for m, n in self.entries)


class ExceptionHook:
    """Stands in for `sys.excepthook` while installed.

    Qt slots and event handlers end here when they raise; the default hook
    would make PyQt abort the application. The error is printed and handed
    to `report` as one line; Ctrl+C (KeyboardInterrupt) calls `interrupt`.
    """

    def __init__(self, report: Callable[[str], None], interrupt: Callable[[], None]):
        self.report = report
        self.interrupt = interrupt
        self._previous = None

    def install(self) -> None:
        self._previous = sys.excepthook
        sys.excepthook = self

    def remove(self) -> None:
        """Puts the previous hook back, unless someone has replaced this one since."""
        if sys.excepthook is self:
            sys.excepthook = self._previous

    def __call__(self, kind, error, tb) -> None:
        if issubclass(kind, KeyboardInterrupt):
            self.interrupt()
            return
        # Each line of the trace at most a few lines long: an error that
        # quotes megabytes is not echoed whole.
        for line in traceback.format_exception(kind, error, tb):
            sys.stderr.write(shortened(line, 4 * MESSAGE_LIMIT).rstrip("\n") + "\n")
        try:
            self.report(describe_problem(error))
        except Exception:  # the window is going away; fall back to stderr only
            pass

"""The window's status bar: a message on the left, figures on the right,
none of which widens the window (elided.py), and the rate meter of its
figures."""

from collections import deque

from ..dataset import Dataset
from ..qt_compat import QtWidgets
from .elided import ElidedLabel, MessageArea

# How long the status bar shows a problem or a source's message, in ms.
MESSAGE_MS = 15000


class StatusBar(QtWidgets.QStatusBar):
    """The window's status bar: a message on the left (problems, a data
    source's own news) and labels on the right, each with a method that
    shows its figure. No text in it widens the window: what does not fit
    is cut after a word, and shown whole on hover."""

    def __init__(self):
        super().__init__()
        self.message_area = MessageArea(self)
        self.addWidget(self.message_area, 1)
        self.pointer_label = ElidedLabel()
        self.paused_label = QtWidgets.QLabel("‖ paused")
        self.counts_label = ElidedLabel()
        self.dropped_label = ElidedLabel()
        self.rate_label = ElidedLabel()
        self.pairs_label = ElidedLabel()
        self.copied_label = ElidedLabel()
        self.limits_label = ElidedLabel()
        self.problems_label = QtWidgets.QLabel()
        for label in (self.pointer_label, self.paused_label, self.counts_label,
                      self.dropped_label, self.rate_label, self.pairs_label, self.copied_label,
                      self.limits_label, self.problems_label):
            label.setContentsMargins(6, 0, 6, 0)
            self.addPermanentWidget(label)
        self.paused_label.setStyleSheet("QLabel { color: #b3261e; font-weight: bold; }")
        self.paused_label.hide()
        self.dropped_label.setStyleSheet("QLabel { color: #9a5b00; }")
        self.dropped_label.hide()
        self.limits_label.setStyleSheet("QLabel { color: #b3261e; }")
        self.limits_label.hide()
        self.copied = ""  # the clipboard text of the last middle-button copy

    # The message is the message area's (never QStatusBar's own, which is
    # cut mid-word and hides the area while shown).
    def showMessage(self, text: str, timeout: int = 0) -> None:
        self.message_area.show_message(text, timeout)

    def currentMessage(self) -> str:
        return self.message_area.full_text

    def clearMessage(self) -> None:
        self.message_area.show_message("")

    def show_pointer(self, text: str) -> None:
        """The x and y under the pointer over a plot, "" when it is over none."""
        self.pointer_label.set_full_text(text)

    def show_paused(self, paused: bool) -> None:
        self.paused_label.setVisible(paused)

    def show_counts(self, points: Dataset, traces: Dataset) -> None:
        self.counts_label.set_full_text(f"points {points.rows_stored:,} (run {points.run_number}) · "
                                        f"traces {traces.payloads_stored:,}")
        # Rows not kept are said, and how many, as long as the run lasts.
        dropped = " · ".join(
            f"{data.dropped:,} {'older rows' if data is points else 'rows of the trace'} "
            f"dropped: {data.dropped_because}" for data in (points, traces) if data.dropped)
        if dropped:
            self.dropped_label.set_full_text(dropped)
        self.dropped_label.setVisible(bool(dropped))

    def show_rate(self, rows_per_second: float, frames_per_second: float) -> None:
        self.rate_label.set_full_text(
            f"{rows_per_second:,.0f} points/s · {frames_per_second:.0f} fps")

    def show_pairs(self, matched: int, curves: int, columns: bool = True) -> None:
        """`matched` (X,Y) pairs, of which the first `curves` at most are
        drawn; none, where there are `columns`, is said in words."""
        shown = min(matched, curves)
        self.pairs_label.set_full_text(
            "no pair matched" if columns and not matched else
            f"pairs {matched}" if shown == matched else f"pairs {matched} ({shown} shown)")

    def show_copied(self, shown: str, clipboard_text: str) -> None:
        """A plot's middle-button copy: `shown` here, `clipboard_text` on the clipboard."""
        self.copied = clipboard_text
        self.copied_label.set_full_text(f"copied {shown}")

    def show_limits(self, counts) -> None:
        """The crossings of each limit line: (curve name, count) pairs; none: hidden."""
        if counts:
            self.limits_label.set_full_text(
                "crossings " + " · ".join(f"{name} {count:,}" for name, count in counts))
        self.limits_label.setVisible(bool(counts))

    def show_problems(self, text: str, count: int, tool_tip: str) -> None:
        """The newest problem as the message, the count of all and the kept ones in the counter."""
        self.showMessage(text, MESSAGE_MS)
        self.problems_label.setText(f"⚠ {count}")
        self.problems_label.setToolTip(tool_tip)

    def show_source_message(self, text: str) -> None:
        """What a data source says about itself ("source ended" and the like)."""
        self.showMessage(text, MESSAGE_MS)


class RateMeter:
    """Rate of a growing count over the last `span` seconds."""

    def __init__(self, span: float = 1.0):
        self.span = span
        self._samples: deque[tuple[float, int]] = deque()

    def update(self, now: float, count: int) -> float:
        samples = self._samples
        samples.append((now, count))
        while len(samples) > 2 and now - samples[1][0] >= self.span:
            samples.popleft()
        (t0, c0), (t1, c1) = samples[0], samples[-1]
        return (c1 - c0) / (t1 - t0) if t1 > t0 else 0.0

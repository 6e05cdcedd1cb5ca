"""Watching the producer: what it says on its status pipe (news of the
source, problems, a script's traceback, the source's end), whether it is
still alive, whether it left an item unfinished, and whether it has gone
quiet while it runs.

The window asks `ProducerWatch.look` a few times a second; everything it
learns goes to the window's problem log and status bar. Every row already
stored stays: an ended or dead producer only ever adds a message.
"""

import functools

from ..formats.recordings.cache import CachedRecording
from ..model.modes import MODES

# A running producer that has sent nothing for this long is reported as stalled.
STALL_SECONDS = 5.0
# The point box's title while a file is read into the cache ("run 1, first
# 100,000 rows"): its rows are the first only, the status bar says how far.
PREVIEW_NOTE = "first"


class ProducerWatch:
    """`producer` is the ProducerProcess (or None), `queue` the intake's
    DeadlineQueue; `window` gives `report`, `problems`, `status_bar` and the
    window title."""

    def __init__(self, producer, queue, window):
        self.producer, self.queue, self.window = producer, queue, window
        self.gone = False                    # the producer process has ended
        self.source_ended: str | None = None  # why the source ended, once it has
        self.line_accounts: dict[str, dict] = {}  # stream: where its lines went
        # A file source's recording: its rows, columns and read seconds once
        # read (None each while it is read); None for other sources.
        self.recording: dict | None = None
        self._stall_reported = False

    def look(self, now: float) -> None:
        """Notices a producer that ended (and the unfinished item it left, if
        any) or that has stopped sending while it runs."""
        if self.producer is None:
            return
        if not self.gone:
            # Whether it is alive is asked first: a producer that has ended
            # sent all its messages before, so they are read below.
            alive = self.producer.is_alive()
            self.take_messages()
            if not alive:
                self.gone = True
                code = self.producer.process.exitcode
                if self.source_ended is None or code != 0:
                    self.window.report(f"the producer stopped (exit code {code})")
        if self.gone:
            dropped = self.queue.discard_unfinished()
            if dropped:
                self.window.report(f"the producer stopped in the middle of an item: "
                                   f"the {dropped:,} bytes of it that came were dropped")
            return
        self._look_for_stall(now)

    def _look_for_stall(self, now: float) -> None:
        # A source may be quiet for a while (a followed file, a port): said,
        # not counted as a problem.
        last = self.queue.last_item
        silent = now - last if last is not None else 0.0
        if silent < STALL_SECONDS:
            self._stall_reported = False
        elif not self._stall_reported and self.source_ended is None:
            self._stall_reported = True
            self.window.status_bar.show_source_message(
                f"the producer has sent nothing for {STALL_SECONDS:.0f} s; it is still running")

    def take_messages(self) -> None:
        """Applies what the producer said on its status pipe (see sources/status.py)."""
        if self.producer is None or self.gone:
            return
        for kind, text, *count in getattr(self.producer, "messages", list)():
            if kind == "problem":
                self.window.report(text, *count)
            elif kind == "traceback":
                self._show_traceback(text)
            elif kind == "ended":
                self._show_end(text)
            elif kind == "lines":
                self.line_accounts[text] = count[0]
            elif kind == "marker":
                self.window.markers.add(text)
            elif kind in ("reading", "read"):
                self._recording(kind, text, *count)
            else:
                self.window.status_bar.show_source_message(text)

    @property
    def reading_file(self) -> bool:
        """Whether a file's rows are being read (said "reading", not yet "read")."""
        return self.recording is not None and self.recording.get("read_seconds") is None

    def _recording(self, kind: str, facts, previewing: bool = False) -> None:
        """A file's rows begin to be read, or have all been taken: the live
        plot shows them whole (liverun.WholeFile) until the file grows.
        While a file is read into the cache, the point box says that the
        rows it counts are only the first."""
        whole = self.window.plot_presenters[0].whole_file
        self.window.modes[MODES[0].key].data_box.set_note(PREVIEW_NOTE if previewing else "")
        if kind == "reading":
            whole.begin()
            self.recording = dict.fromkeys(("rows", "columns", "read_seconds"))
        else:
            facts = dict(facts)
            folder = facts.pop("mapped", None)
            if folder is not None:
                self._map(folder)
            whole.read({key: record.dataset for key, record in self.window.modes.items()})
            self.recording = facts
        self.window.pacer.wake()

    def _map(self, folder: str) -> None:
        """The rows of a file read into the cache: its columns memory-mapped
        as the point data set's current run (sources/filecache.py), in the
        place of the first rows shown while they were converted."""
        try:
            entry = CachedRecording.open(folder)
            columns = [entry.column(j) for j in range(len(entry.names))]
            words = {int(column): new for column, new in entry.words.items()}
            self.window.point_dataset.map_columns(columns, functools.cache(entry.index), words,
                                                  replace=True)
            self.window.selection.columns_changed()
        except (OSError, ValueError, KeyError) as error:
            self.window.report(f"the rows of {folder} cannot be mapped: {error}")

    def _show_traceback(self, text: str) -> None:
        problems = self.window.problems
        problems.add(text.rstrip())
        last = text.strip().splitlines()[-1] if text.strip() else "an exception"
        self.window.status_bar.show_problems(f"the producer raised {last}", problems.count,
                                             problems.tool_tip)

    def _show_end(self, reason: str) -> None:
        # Said until something else is: the rows stay for viewing.
        self.source_ended = reason
        if self.window.replay_bar is not None:  # the reading ended, not the replay
            self.window.status_bar.showMessage(f"the whole file is read ({reason}); the replay "
                                               "goes on")
            return
        self.window.status_bar.showMessage(f"source ended: {reason}")
        self.window.setWindowTitle(f"{self.window.windowTitle()} (source ended)")

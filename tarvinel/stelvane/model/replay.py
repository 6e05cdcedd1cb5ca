"""Replay of a recorded file: a cursor over the rows already stored.

The file is read whole, as fast as ever, into the data set; the replay is
the window's: a cursor (a run and the rows of it shown) moves over the
stored rows, and the plots draw from a `hold.HeldData`, that run cut at the
cursor with the runs before it as its history, which reads like the data
set. Everything that draws from what the plots show (the live plot, the
history plot, the statistics, the spectrum, the tracker, saving the visible
range) follows the cursor without knowing it.

The replay goes over the runs the data set keeps, oldest first: its
finished runs (a file with several runs: an empty line, or new names, ends
one), then the current run, the one being read. `position` counts the rows
shown over them all, `rows` all their rows; the slider shows those.

How the cursor moves (its pace):
- `speed` times real time by the X column the live plot's first curve uses,
  when that column does not decrease over the run's rows stored: X at the
  cursor is X where the replay (re)started plus `speed` times the seconds
  since;
- else `rate` rows per second times `speed`;
- at `MAX` speed the cursor is at the newest stored row at every frame.
The replay (re)starts from the cursor at the start, on resuming, after a
seek or step, at a new speed, at each new run and when the pace changes its
column. At the end of a finished run the next one starts from its first
row. The replay has ended once the cursor is at the last row and the source
has ended.

This module imports no Qt.
"""

from dataclasses import dataclass
import math
import time

import numpy as np

from .columnkinds import shown_column
from .growth import GrowingX
from .hold import HeldData

MAX = math.inf       # the speed `max`: every stored row as soon as it is read
DEFAULT_RATE = 1000.0  # rows per second at speed 1 where X cannot set the pace
# The speeds `slower` and `faster` step through: halving and doubling within
# these; faster than the fastest is MAX, slower than MAX the fastest.
SLOWEST, FASTEST = 1 / 1024, 1024.0
# A step (Left, Right) moves the cursor by this share of all the rows.
STEP_SHARE = 0.01


@dataclass
class Anchor:
    """Where the replay (re)started: the wall time, the run and the cursor in
    it, the X there, and the pace it moves at (the X column's name, or
    None: rows)."""
    wall: float
    run: int
    row: int
    x: float
    pace: str | None


def number_of(run) -> int:
    """The number of a finished run or of a data set's current run."""
    return run.number if hasattr(run, "number") else run.run_number


def end_of(run) -> int:
    """The row after a run's last, counted from its first (dropped ones included)."""
    return run.dropped + len(run)


class MonotonicCheck:
    """Whether a column does not decrease over a run's stored rows, looked at
    once per new block of rows (growth.GrowingX); a complex column, or one
    whose newest X is NaN, sets no pace."""

    def __init__(self):
        self.key = None   # (run number, column name, the run's column kinds)
        self.growth = GrowingX()

    def rising_over(self, run, name: str) -> bool:
        key = (number_of(run), name, run.described)
        if key != self.key:
            self.key = key
            self.growth.clear()
        x = run.column(name)
        # NaN is no X to keep pace by: it compares false, and so does its difference.
        return (not np.iscomplexobj(x) and self.growth.grows(x, run.dropped, key)
                and not (len(x) and np.isnan(x[-1])))


class Replay:
    """The replay cursor over `dataset` (the points' dataset.Dataset), at
    `speed` (MAX, or times real time) and `rate` rows per second where X
    sets no pace. `clock` gives the wall time in seconds."""

    def __init__(self, dataset, speed: float = 1.0, rate: float = DEFAULT_RATE,
                 clock=time.monotonic):
        self.dataset, self.speed, self.rate, self.clock = dataset, speed, rate, clock
        self._at = dataset.run_number  # the cursor: the number of its run (see run),
        self.row = 0                   # and the rows of it shown (dropped ones included)
        self.paused = False
        self.held = False     # the slider is being dragged: the cursor follows it only
        self.ended = False
        self.source_ended = False
        self.pace_column: str | None = None  # the X column asked for, if any
        self._check = MonotonicCheck()
        self._anchor: Anchor | None = None
        self._view: HeldData | None = None
        self._view_key = None
        self._views = 0

    # --- where the cursor is ------------------------------------------------------

    def _runs(self) -> list:
        """The runs the replay goes over, oldest first: the finished ones the
        data set keeps, then the current one (unless it is empty and others
        are not: the end of a file is then the end of its last run)."""
        ds = self.dataset
        runs = list(ds.history)
        if len(ds) or not runs:
            runs.append(ds)
        return runs

    def _cursor(self) -> tuple[list, int]:
        """The runs, and the index of the cursor's among them; a cursor whose
        run has left the history moves to the start of the oldest kept."""
        runs = self._runs()
        numbers = [number_of(run) for run in runs]
        if self._at not in numbers:
            k = 0 if self._at < numbers[0] else len(runs) - 1
            self._at, self.row, self._anchor = numbers[k], runs[k].dropped, None
        k = numbers.index(self._at)
        self.row = min(max(self.row, runs[k].dropped), end_of(runs[k]))
        return runs, k

    @property
    def run(self) -> int:
        """The number of the run the cursor is in."""
        self._cursor()  # a run that has left the history moves the cursor on
        return self._at

    @property
    def position(self) -> int:
        """The rows shown, over all the runs the replay goes over."""
        runs, k = self._cursor()
        return sum(len(run) for run in runs[:k]) + self.row - runs[k].dropped

    @property
    def rows(self) -> int:
        """The rows of the runs the replay goes over, read so far."""
        return sum(len(run) for run in self._runs())

    @property
    def paced_by(self) -> str | None:
        """The X column that sets the pace in the cursor's run, None when rows do."""
        runs, k = self._cursor()
        return self._pace_of(runs[k])

    def _pace_of(self, run) -> str | None:
        name = self.pace_column
        if name is None or name not in run.column_names or not len(run):
            return None
        return name if self._check.rising_over(run, name) else None

    def view(self) -> HeldData:
        """What the plots draw from: the cursor's run up to the cursor."""
        runs, k = self._cursor()
        run, ds = runs[k], self.dataset
        key = (self._at, self.row, ds.history_version, tuple(run.column_names), run.described,
               run.dropped)
        if key != self._view_key:
            self._view_key = key
            self._views += 1
            self._view = HeldData.cut(
                ds.name, run, self.row - run.dropped, run_number=self._at, history=tuple(runs[:k]),
                version=("replay", self._views), history_version=(self._at, ds.history_version))
        return self._view

    def x_at_cursor(self) -> tuple[float | None, str]:
        """The X column's value at the cursor (the last row shown) and its text
        as the readout writes it (times as times); (None, "") when none."""
        runs, k = self._cursor()
        run, name = runs[k], self.pace_column
        if name is None or name not in run.column_names or self.row <= run.dropped:
            return None, ""
        value = run.column(name)[self.row - run.dropped - 1].item()
        return value, shown_column(run, name).text(value)

    def summary(self) -> dict:
        x, _ = self.x_at_cursor()
        return {"position": self.position, "rows": self.rows, "run": self.run,
                "speed": "max" if self.speed == MAX else self.speed,
                "paced_by": self.paced_by, "paused": self.paused, "ended": self.ended,
                "x": x if x is None or math.isfinite(x) else None}

    # --- moving the cursor ------------------------------------------------------------

    def advance(self, pace_column: str | None, source_ended: bool) -> None:
        """Moves the cursor to where the pace says it is now (each frame)."""
        self.source_ended = source_ended
        if pace_column is not None:
            self.pace_column = pace_column
        runs, k = self._cursor()
        if not (self.paused or self.held):
            self._move(runs, k)
        self._note_end()

    def _move(self, runs: list, k: int) -> None:
        if self.speed == MAX:
            self._at, self.row = number_of(runs[-1]), end_of(runs[-1])
        elif self.row >= end_of(runs[k]) and k + 1 < len(runs):  # on to the next run
            self._at, self.row, self._anchor = number_of(runs[k + 1]), runs[k + 1].dropped, None
        else:
            self.row = min(self._paced_row(runs[k]), end_of(runs[k]))

    def _note_end(self) -> None:
        runs, k = self._cursor()
        self.ended = self.source_ended and k == len(runs) - 1 and self.row >= end_of(runs[k])

    def seek(self, position: int) -> None:
        """Puts the cursor at `position` (rows shown over all runs; the end of
        a run rather than the start of the next); the replay goes on from there."""
        runs = self._runs()
        left = max(0, int(position))
        for run in runs:
            if left <= len(run) or run is runs[-1]:
                self._at, self.row = number_of(run), run.dropped + min(left, len(run))
                break
            left -= len(run)
        self._anchor = None
        self._note_end()

    def seek_x(self, value: float, after_start: bool = False) -> bool:
        """Puts the cursor at the last row whose X (the pace column) is at
        most `value` (with `after_start`: the first row's X plus `value`), in
        the first run that reaches it; False where X sets no pace."""
        runs, position = self._runs(), 0
        for run in runs:
            name = self._pace_of(run)
            if name is None:
                return False
            x = run.column(name)
            if after_start:
                value, after_start = (x[0] if len(x) else 0.0) + value, False
            if run is runs[-1] or (len(x) and x[-1] >= value):
                self.seek(position + int(np.searchsorted(x, value, side="right")))
                return True
            position += len(run)
        return False

    def step(self, steps: int) -> None:
        """Moves the cursor by `steps` steps of STEP_SHARE of all the rows."""
        self.seek(self.position + steps * max(1, round(STEP_SHARE * self.rows)))

    def set_paused(self, paused: bool) -> None:
        self.paused = paused
        self._anchor = None

    def hold(self, held: bool) -> None:
        """While the slider is held the cursor moves only with it."""
        self.held = held
        self._anchor = None

    def faster(self, doubling: bool) -> None:
        """Doubles (or halves) the speed, within SLOWEST and FASTEST; beyond
        the fastest is MAX, and slower than MAX is the fastest."""
        if self.speed == MAX:
            speed = MAX if doubling else FASTEST
        else:
            speed = self.speed * (2 if doubling else 0.5)
            speed = MAX if speed > FASTEST else max(SLOWEST, speed)
        self.speed = speed
        self._anchor = None

    def _paced_row(self, run) -> int:
        """Where the pace puts the cursor in `run`, the cursor's run."""
        if not len(run):  # nothing read yet: the replay starts with the first rows
            self._anchor = None
            return self.row
        now, pace = self.clock(), self._pace_of(run)
        anchor = self._anchor
        if anchor is None or anchor.pace != pace or anchor.run != self._at:
            anchor = self._anchor = Anchor(now, self._at, self.row, self._x_before(run, pace), pace)
        seconds = self.speed * (now - anchor.wall)
        if pace is None:
            return anchor.row + int(self.rate * seconds)
        x = run.column(pace)
        return run.dropped + int(np.searchsorted(x, anchor.x + seconds, side="right"))

    def _x_before(self, run, pace: str | None) -> float:
        """X of the last row shown (of the first row before any is shown)."""
        if pace is None:
            return math.nan
        return float(run.column(pace)[max(0, self.row - run.dropped - 1)])

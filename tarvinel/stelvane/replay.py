"""Replay of a recorded file: a cursor over the rows already stored.

The file is read whole, as fast as ever, into the data set; the replay is
the window's: a cursor (`Replay.position`, the rows of the current run shown,
counted from the run's first row, dropped ones included) moves over the
stored rows, and the plots draw from a `ReplayData`, the current run cut at
the cursor, which reads like the data set. Everything that draws from what
the plots show (the live plot, the statistics, the spectrum, the tracker,
saving the visible range) follows the cursor without knowing it.

How the cursor moves (its pace):
- `speed` times real time by the X column the live plot's first curve uses,
  when that column does not decrease over the rows stored: X at the cursor is
  X where the replay (re)started plus `speed` times the seconds since;
- else `rate` rows per second times `speed`;
- at `MAX` speed the cursor is at the newest stored row at every frame.
The replay (re)starts from the cursor at the start, on resuming, after a
seek or step, at a new speed and when the pace changes its column.

A file with several runs: the replay covers the current run (the one being
read); a run that ends goes to the history plot, and the cursor starts
again at the new run's first row. The replay has ended once the cursor is at
the last row and the source has ended.

This module imports no Qt.
"""

from dataclasses import dataclass
import math
import time

import numpy as np

from .columnkinds import KindsByName, shown_column

MAX = math.inf       # the speed `max`: every stored row as soon as it is read
DEFAULT_RATE = 1000.0  # rows per second at speed 1 where X cannot set the pace
# The speeds `slower` and `faster` step through: halving and doubling within
# these; faster than the fastest is MAX, slower than MAX the fastest.
SLOWEST, FASTEST = 1 / 1024, 1024.0
# A step (Left, Right) moves the cursor by this share of the run's rows.
STEP_SHARE = 0.01


class ReplayData(KindsByName):
    """The current run of `dataset` up to `rows` of its stored rows, read
    like the data set (as hold.HeldData is). Taking it copies nothing: the
    columns are views, which the data set never changes once handed out."""

    def __init__(self, dataset, rows: int, version):
        self.name = dataset.name
        self.column_names = dataset.column_names
        self._columns = {name: dataset.column(name)[:rows] for name in self.column_names}
        self.run_number = dataset.run_number
        self.history = dataset.history
        self.version = version
        self.history_version = dataset.history_version
        self.described = dataset.described

    def column(self, name: str):
        return self._columns[name]

    def __len__(self) -> int:
        return len(next(iter(self._columns.values()))) if self._columns else 0


@dataclass
class Anchor:
    """Where the replay (re)started: the wall time, the cursor, the X there,
    and the pace it moves at (the X column's name, or None: rows)."""
    wall: float
    position: int
    x: float
    pace: str | None


class MonotonicCheck:
    """Whether a column does not decrease over a run's stored rows, looked at
    once per new block of rows (only the new ones and the one before)."""

    def __init__(self):
        self.key = None   # (run number, column name, the run's column kinds)
        self.checked = 0  # rows looked at, counted from the run's first row
        self.rising = True

    def rising_over(self, dataset, name: str) -> bool:
        key = (dataset.run_number, name, dataset.described)
        first, total = dataset.dropped, dataset.dropped + len(dataset)
        if key != self.key or self.checked < first:
            self.key, self.checked, self.rising = key, first, True
        if self.rising and total > self.checked:
            x = dataset.column(name)[max(0, self.checked - first - 1):]
            # NaN is no X to keep pace by: it compares false, and so does its difference.
            self.rising = (not np.iscomplexobj(x) and bool(np.all(np.diff(x) >= 0))
                           and not np.isnan(x[-1]))
        self.checked = total
        return self.rising


class Replay:
    """The replay cursor over `dataset` (the points' dataset.Dataset), at
    `speed` (MAX, or times real time) and `rate` rows per second where X
    sets no pace. `clock` gives the wall time in seconds."""

    def __init__(self, dataset, speed: float = 1.0, rate: float = DEFAULT_RATE,
                 clock=time.monotonic):
        self.dataset, self.speed, self.rate, self.clock = dataset, speed, rate, clock
        self.position = 0
        self.paused = False
        self.held = False     # the slider is being dragged: the cursor follows it only
        self.ended = False
        self.source_ended = False
        self.pace_column: str | None = None  # the X column asked for, if any
        self._run = dataset.run_number
        self._check = MonotonicCheck()
        self._anchor: Anchor | None = None
        self._view: ReplayData | None = None
        self._view_key = None
        self._views = 0

    # --- what the window asks ---------------------------------------------------

    @property
    def first(self) -> int:
        """The first row the run still keeps (older ones were dropped)."""
        return self.dataset.dropped

    @property
    def rows(self) -> int:
        """The rows of the current run read so far."""
        return self.dataset.dropped + len(self.dataset)

    @property
    def paced_by(self) -> str | None:
        """The X column that sets the pace, None when rows do."""
        name = self.pace_column
        if name is None or name not in self.dataset.column_names or not len(self.dataset):
            return None
        return name if self._check.rising_over(self.dataset, name) else None

    def view(self) -> ReplayData:
        """What the plots draw from: the current run up to the cursor."""
        ds = self.dataset
        key = (ds.run_number, tuple(ds.column_names), ds.described, ds.dropped, self.position)
        if key != self._view_key:
            self._view_key = key
            self._views += 1
            self._view = ReplayData(ds, self.position - ds.dropped, ("replay", self._views))
        return self._view

    def x_at_cursor(self) -> tuple[float | None, str]:
        """The X column's value at the cursor (the last row shown) and its text
        as the readout writes it (times as times); (None, "") when none."""
        name = self.pace_column
        if name is None or name not in self.dataset.column_names or self.position <= self.first:
            return None, ""
        value = self.dataset.column(name)[self.position - self.first - 1].item()
        return value, shown_column(self.dataset, name).text(value)

    def summary(self) -> dict:
        x, _ = self.x_at_cursor()
        return {"position": self.position, "rows": self.rows,
                "speed": "max" if self.speed == MAX else self.speed,
                "paced_by": self.paced_by, "paused": self.paused, "ended": self.ended,
                "x": x if x is None or math.isfinite(x) else None}

    # --- moving the cursor ------------------------------------------------------------

    def advance(self, pace_column: str | None, source_ended: bool) -> None:
        """Moves the cursor to where the pace says it is now (each frame)."""
        self.source_ended = source_ended
        if pace_column is not None:
            self.pace_column = pace_column
        if self.dataset.run_number != self._run:  # a new run: its replay starts at its start
            self._run = self.dataset.run_number
            self.position, self._anchor = 0, None
        if not (self.paused or self.held):
            self.position = self._paced_position()
        self.position = min(max(self.position, self.first), self.rows)
        self.ended = self.source_ended and self.position >= self.rows

    def seek(self, position: int) -> None:
        """Puts the cursor at `position` (rows shown); the replay goes on from there."""
        self.position = min(max(int(position), self.first), self.rows)
        self.ended = self.source_ended and self.position >= self.rows
        self._anchor = None

    def step(self, steps: int) -> None:
        """Moves the cursor by `steps` steps of STEP_SHARE of the run's rows."""
        size = max(1, round(STEP_SHARE * (self.rows - self.first)))
        self.seek(self.position + steps * size)

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

    def _paced_position(self) -> int:
        if self.speed == MAX:
            return self.rows
        if self.rows <= self.first:  # nothing read yet: the replay starts with the first rows
            self._anchor = None
            return self.position
        now, pace = self.clock(), self.paced_by
        anchor = self._anchor
        if anchor is None or anchor.pace != pace:
            anchor = self._anchor = Anchor(now, self.position, self._x_before(pace), pace)
        seconds = self.speed * (now - anchor.wall)
        if pace is None:
            return anchor.position + int(self.rate * seconds)
        x = self.dataset.column(pace)
        return self.first + int(np.searchsorted(x, anchor.x + seconds, side="right"))

    def _x_before(self, pace: str | None) -> float:
        """X of the last row shown (of the first row before any is shown)."""
        if pace is None:
            return math.nan
        x = self.dataset.column(pace)
        return float(x[max(0, self.position - self.first - 1)])

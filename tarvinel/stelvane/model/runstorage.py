"""Where a data set's current run keeps its rows: arrays in memory of at
most `max_rows` rows, the oldest dropped beyond that (and counted in
`dropped`); or, with a spill room (spill.py), every row, the run's columns
moving to files once it outgrows `max_rows` in memory. Where the room's cap
or the disk says no, the run goes on in memory with its newest rows.

Data that views were handed out for is never moved in place: moving or
growing copies into new arrays (or files).
"""

import numpy as np


class RunStorage:
    """What a Dataset adds for storing rows (it owns the arrays)."""

    spill_room = None  # a spill.SpillRoom: rows beyond max_rows go to disk
    _on_disk = None    # the current run's spill.SpilledRun while it is on disk

    @property
    def dropped_because(self) -> str:
        """Why the run dropped rows, as the status bar says it."""
        room = self.spill_room
        return room.cap_reached if room is not None and room.cap_reached else \
            f"--max-rows {self.max_rows}"

    def _store(self, columns: list[np.ndarray], n: int) -> None:
        if not self._room_on_disk(n):
            if n > self.max_rows:
                self._dropped += n - self.max_rows
                columns = [values[-self.max_rows:] for values in columns]
                n = self.max_rows
            self._make_room(n)
        for j, column in enumerate(self._columns):
            values = columns[j]
            if values.dtype.kind == "c":
                if np.any(values.imag != 0):
                    if column.dtype.kind != "c":
                        column = self._columns[j] = self._as_complex(j)
                else:
                    values = values.real
            if not self._written_to_disk(j, column, values):
                column[self._end:self._end + n] = values
        self._end += n
        self.version += 1

    def _written_to_disk(self, j: int, column: np.ndarray, values: np.ndarray) -> bool:
        """Writes `values` at the run's end through column j's file where it
        is on disk (spill.py); False where the rows go through the array."""
        if self._on_disk is None:
            return False
        try:
            return self._on_disk.write(j, column, self._end, values)
        except OSError:
            return False  # through the mapping, as any other write

    def _as_complex(self, j: int) -> np.ndarray:
        if self._on_disk is not None:
            try:
                return self._on_disk.as_complex(j, self._end)
            except OSError:  # a full disk: this column goes on in memory (pages as written)
                fresh = np.empty(len(self._columns[j]), np.complex128)
                fresh[:self._end] = self._columns[j][:self._end]
                return fresh
        return self._columns[j].astype(np.complex128)

    def _room_on_disk(self, n: int) -> bool:
        """Whether the next n rows go to the run's files: made once the run
        would outgrow max_rows, where there is a spill room and the run
        has neither dropped rows nor maps a recording's columns."""
        length = self._end - self._start
        if self._on_disk is None:
            if (self.spill_room is None or length + n <= self.max_rows or self._dropped
                    or not self._columns or not self._columns[0].flags.writeable):
                return False
            if not self._to_disk(length + n):
                return False
        if self._end + n > len(self._columns[0]):
            self.spill_room.say_full()
            return self._leave_disk()
        try:
            self._on_disk.ensure(self._end + n)
        except OSError:
            return self._leave_disk()
        return True

    def _to_disk(self, rows: int) -> bool:
        row_bytes = sum(column.itemsize for column in self._columns)
        capacity = max(rows, self.spill_room.cap // max(row_bytes, 1))
        held = [column[self._start:self._end] for column in self._columns]
        self._on_disk = self.spill_room.spilled(held, self._end - self._start, capacity)
        if self._on_disk is None:
            return False
        self.spill_room.cap_reached = None
        self._columns = self._on_disk.columns
        self._start, self._end = 0, len(held[0]) if held else 0
        return True

    def _leave_disk(self) -> bool:
        """Back to memory, with the run's newest max_rows rows: False."""
        keep = min(self._end - self._start, self.max_rows)
        fresh = [np.empty(2 * self.max_rows, column.dtype) for column in self._columns]
        for array, column in zip(fresh, self._columns):
            array[:keep] = column[self._end - keep:self._end]
        self._dropped += self._end - self._start - keep
        self._columns, self._start, self._end, self._on_disk = fresh, 0, keep, None
        return False

    def _respill(self) -> None:
        """The run's columns changed (derived series set): on disk again."""
        if self._on_disk is not None:
            self._on_disk = None
            if not self._to_disk(self._end - self._start):
                self._leave_disk()

    def _make_room(self, n: int) -> None:
        """Makes space in memory for n more rows (n <= max_rows), dropping
        the oldest rows beyond max_rows."""
        length = self._end - self._start
        keep = min(length, self.max_rows - n)
        self._dropped += length - keep
        self._start = self._end - keep
        capacity = len(self._columns[0]) if self._columns else 0
        if self._end + n <= capacity:
            return
        new_capacity = max(capacity, INITIAL_CAPACITY)
        while new_capacity < 2 * (keep + n) and new_capacity < 2 * self.max_rows:
            new_capacity *= 2
        new_capacity = max(min(new_capacity, 2 * self.max_rows), keep + n)
        for j, column in enumerate(self._columns):
            fresh = np.empty(new_capacity, column.dtype)
            fresh[:keep] = column[self._start:self._end]
            self._columns[j] = fresh
        self._start, self._end = 0, keep


# Rows a new run's arrays start with; they double until they hold 2 * max_rows.
INITIAL_CAPACITY = 1024

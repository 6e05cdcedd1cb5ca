"""A live run's rows beyond --max-rows, on disk instead of dropped.

Once a run outgrows `max_rows` in memory, its columns move into files of
their own (one a column, unlinked as soon as made: they go with the
process, even when it crashes) and are memory-mapped: a column stays one
array the plots, the replay and the export read as ever, and the system's
page cache, not the process, holds what is not in use. Each file's blocks
are allocated ahead of the rows written to them, so that a full disk is
an error the data set can say, never a fault of the process. Rows are
written through the file, not the mapping: a page first written through a
shared mapping costs a fault of its own, and a run's first million rows of
nine columns took 63 ms to copy that way against 17 ms written (the reads
through the mapping after are the same either way).

The files of every run still alive count against one cap (--disk-cap,
10 GB by default); a run that would pass it, or a disk without room, goes
on in memory keeping its newest rows, and `cap_reached` says why.

This module imports no Qt.
"""

import os
import tempfile
import weakref

import numpy as np

DEFAULT_CAP = 10 * 1000 ** 3
# Blocks allocated ahead of the rows: few calls, and a full disk found early.
_AHEAD = 32 * 1024 * 1024


class SpillRoom:
    """Where a data set's runs go on disk: `directory`, `cap` bytes for all
    of them together."""

    def __init__(self, directory: str, cap: int = DEFAULT_CAP):
        self.directory = directory
        self.cap = cap
        self.used = 0             # bytes allocated to the files of runs alive
        self.cap_reached = None   # why a run could not spill, once one could not

    def spilled(self, columns: list, rows: int, capacity: int):
        """A SpilledRun holding the first `rows` of `columns` with room for
        `capacity` rows, or None (cap_reached then says why)."""
        try:
            os.makedirs(self.directory, exist_ok=True)
            return SpilledRun(self, columns, rows, capacity)
        except OSError as error:
            self.say_full(error)
            return None

    def say_full(self, error: OSError | None = None) -> str:
        """Notes why rows cannot go to disk: the cap, or the disk's `error`."""
        self.cap_reached = (f"the disk cap of {self.cap / 1e9:g} GB is reached" if error is None
                            else f"no room on disk for the rows beyond memory ({error.strerror})")
        return self.cap_reached

    def column(self, rows: int) -> np.ndarray:
        """A file of `rows` float64, its blocks allocated, mapped (freed with
        the last view of it). Raises OSError where the cap or disk is full."""
        os.makedirs(self.directory, exist_ok=True)
        file = _ColumnFile(self, np.float64, rows)
        file.ensure(rows)
        return file.array

    def allocate(self, size: int, over_cap: bool = False) -> None:
        if self.used + size > self.cap and not over_cap:
            raise OSError(28, self.say_full())
        self.used += size


class SpilledRun:
    """A run's columns in files: `columns` the arrays, `ensure(rows)` makes
    room for that many rows (raises OSError where the cap or disk is full)."""

    def __init__(self, room: SpillRoom, columns: list, rows: int, capacity: int):
        self._room = room
        self._files = [_ColumnFile(room, column.dtype, capacity) for column in columns]
        self.ensure(rows)
        for file, column in zip(self._files, columns):
            file.write(0, column[:rows])

    @property
    def columns(self) -> list:
        return [file.array for file in self._files]

    def ensure(self, rows: int) -> None:
        for file in self._files:
            file.ensure(rows)

    def write(self, j: int, column: np.ndarray, start: int, values) -> bool:
        """Writes `values` from row `start` of column j, where `column` is
        still its file (room made by `ensure`): whether it is."""
        if self._files[j].array is not column:
            return False  # (a column that turned complex on a full disk is in memory)
        self._files[j].write(start, values)
        return True

    def as_complex(self, j: int, rows: int) -> np.ndarray:
        """Column j as complex numbers, its first `rows` values carried over."""
        old = self._files[j].array
        fresh = self._files[j] = _ColumnFile(self._room, np.complex128, len(old))
        fresh.ensure(rows, over_cap=True)  # (the rows are held already)
        fresh.write(0, old[:rows])
        return fresh.array


class _ColumnFile:
    """One column's file, mapped as `array`; its blocks count against the
    room's cap until the last view of the array goes."""

    def __init__(self, room: SpillRoom, dtype, capacity: int):
        self._room = room
        self._file = tempfile.TemporaryFile(dir=room.directory, prefix="run-")
        self._file.truncate(max(capacity, 1) * np.dtype(dtype).itemsize)
        self.array = np.memmap(self._file, dtype=dtype, mode="r+", shape=(max(capacity, 1),))
        self._allocated = [0]  # shared with the finalizer
        # The file is closed (and its blocks freed) with the last view of it.
        weakref.finalize(self.array, _release, room, self._allocated, self._file)

    def write(self, start: int, values) -> None:
        """Writes `values` (as the column's type) from row `start`."""
        data = memoryview(np.ascontiguousarray(values, self.array.dtype)).cast("B")
        offset = start * self.array.itemsize
        while data:
            written = os.pwrite(self._file.fileno(), data, offset)
            data, offset = data[written:], offset + written

    def ensure(self, rows: int, over_cap: bool = False) -> None:
        need = min(rows * self.array.itemsize, self.array.nbytes)
        done = self._allocated[0]
        if need <= done:
            return
        ahead = min(_AHEAD, self._room.cap // 64)
        size = min(max(need - done, ahead), self.array.nbytes - done)
        self._room.allocate(size, over_cap)
        try:
            os.posix_fallocate(self._file.fileno(), done, size)
        except OSError as error:
            self._room.used -= size
            self._room.say_full(error)
            raise
        self._allocated[0] += size


def _release(room: SpillRoom, allocated: list, file) -> None:
    room.used -= allocated[0]
    file.close()

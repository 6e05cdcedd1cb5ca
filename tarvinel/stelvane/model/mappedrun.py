"""A data set's current run made of columns it does not hold in memory: a
recording's columns memory-mapped from the cache (formats/recordings/
cache.py), every row kept whatever --max-rows says, with each column's
min/max index for thinning (extremesindex.py).

The run is the data set's like any other: `column(name)` gives the mapped
rows (read-only), `len` counts them, and rows arriving later go to memory
as any run's do, the mapped rows then counting as dropped beyond --max-rows.
The index serves only while the run holds the mapped rows unchanged.

Derived series over a mapped run are made a chunk of rows at a time into
files of the spill room (spill.py), each with a min/max index of its own:
a series over 100,000,000 rows then takes the memory of a chunk, not of
the run, and is thinned from its index as the recording's columns are.
Without a spill room (--disk-cap 0), or for complex values, they are made
in memory.
"""

import shutil
import tempfile

from ..formats.recordings.cache import release_pages
from ..formats.recordings.extremesindex import IndexWriter, read_level

# Rows of a mapped run a derived series is made of at a time.
DERIVED_CHUNK = 1 << 20


class MappedRun:
    """What a Dataset adds for mapped columns (it owns the storage)."""

    def map_columns(self, columns: list, index=None, words=None, replace: bool = False) -> None:
        """Makes `columns` (read-only arrays of one length, one per producer
        column) the rows of a new current run; `index(j)` gives column j's
        index levels, `words` a TextRows' words. With `replace` they take
        the place of the current run's rows (the first of the same rows,
        shown while the recording was made; their words are the first of
        `words`). Raises ValueError where the columns are not the ones named."""
        if len(columns) != self._width:
            raise ValueError(f"{self.name}: {len(columns)} columns mapped, {self._width} named")
        if replace:
            self._discard_run()
            known = self._described.words
            words = {c: w[len(known.get(c, ())):] for c, w in (words or {}).items()}
        else:
            self.roll()
        rows = len(columns[0]) if columns else 0
        self._mapped = (list(columns), index, [])
        self._columns = list(columns) + self._derived_of_mapped(list(columns), rows)
        self._start, self._end, self.rows_stored = 0, rows, self.rows_stored + rows
        if words:
            self._described.add_words(words, self.name)
        self.version += 1

    def _discard_run(self) -> None:
        """Forgets the current run's rows, as if they never came (they were
        a preview of rows that come again): no history, not counted."""
        if self._end > self._start or self._dropped:
            self.rows_stored -= self._end - self._start + self._dropped
            self._new_run_storage()
            self.version += 1

    def extremes_index(self, name: str):
        """The index levels of column `name` while the run holds the mapped
        rows unchanged (a new run, or rows dropped, end it); else None."""
        columns, index, derived = getattr(self, "_mapped", ((), None, []))
        j = self.column_index(name)
        if index is None or j >= len(columns) or self._columns[j] is not columns[j] \
                or self._start or self._dropped:
            return None
        return index(j) if j < self._width else derived[j - self._width]

    def _holds_mapped_rows(self) -> bool:
        columns, index, _ = getattr(self, "_mapped", ((), None, []))
        return index is not None and not self._start and not self._dropped and \
            all(self._columns[j] is columns[j] for j in range(self._width))

    def _derived_of(self, columns: list, start: int, end: int) -> list:
        """The derived series of the current run's rows start:end."""
        if self._holds_mapped_rows():
            columns_mapped, index, _ = self._mapped  # the series made before go
            self._mapped = (columns_mapped[:self._width], index, [])
            return self._derived_of_mapped(columns, end)
        return self.derived.stored(columns, start, end, self._names[:self._width], self.name)

    def _derived_of_mapped(self, columns: list, rows: int) -> list:
        """The derived series of the mapped `columns`: in files with their
        index where the run is longer than a chunk and the room and the
        values allow, else in memory at once."""
        names = self._names[:self._width]
        if self.spill_room is not None and rows > DERIVED_CHUNK and self.derived.plan.applied:
            made = _derived_files(self.derived, self.spill_room, columns, rows, names, self.name)
            if made is not None:
                arrays, indexes = made
                self._mapped = (self._mapped[0] + arrays, self._mapped[1], indexes)
                return arrays
            self.derived.start_run()  # made again from the first row, in memory
        return self.derived.stored(columns, 0, rows, names, self.name)


def _derived_files(derived, room, columns: list, rows: int, names, dataset_name: str):
    """(arrays, index levels of each) of `derived`'s series over `rows` rows
    of `columns`, made a chunk at a time into files of the spill `room`;
    None where the room has no space for them or a series is complex."""
    try:
        arrays = [room.column(rows) for _ in derived.names]
        folder = tempfile.mkdtemp(prefix="index-", dir=room.directory)
    except OSError:
        return None
    try:
        index = IndexWriter(folder, len(arrays))
        try:
            for start in range(0, rows, DERIVED_CHUNK):
                end = min(rows, start + DERIVED_CHUNK)
                made = derived.values(lambda i: columns[i][start:end], end - start, names,
                                      dataset_name)
                if any(values.dtype.kind == "c" for values in made):
                    return None
                for array, values in zip(arrays, made):
                    array[start:end] = values
                index.add(made)
                # Written, and read: the chunk's pages stay the file cache's, not the window's.
                for column in (*arrays, *columns):
                    release_pages(column[start:end])
            levels = index.finish()
        finally:
            index.close()
        # Mapped, the index files need no name: the folder goes at once.
        indexes = [[read_level(folder, j, level) for level in range(levels)]
                   for j in range(len(arrays))]
    except OSError:
        return None
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    for array in arrays:
        array.flags.writeable = False
    return arrays, indexes


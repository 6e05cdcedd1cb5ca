"""A data set's current run made of columns it does not hold in memory: a
recording's columns memory-mapped from the cache (formats/recordings/
cache.py), every row kept whatever --max-rows says, with each column's
min/max index for thinning (extremesindex.py).

The run is the data set's like any other: `column(name)` gives the mapped
rows (read-only), `len` counts them, and rows arriving later go to memory
as any run's do, the mapped rows then counting as dropped beyond --max-rows.
The index serves only while the run holds the mapped rows unchanged.
"""


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
        names = self._names[:self._width]
        self._columns = list(columns) + self.derived.stored(list(columns), 0, rows, names, self.name)
        self._start, self._end, self.rows_stored = 0, rows, self.rows_stored + rows
        self._mapped = (list(columns), index)
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
        columns, index = getattr(self, "_mapped", ((), None))
        j = self.column_index(name)
        if index is None or j >= len(columns) or self._columns[j] is not columns[j] \
                or self._start or self._dropped:
            return None
        return index(j)

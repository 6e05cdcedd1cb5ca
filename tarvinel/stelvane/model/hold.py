"""The data behind paused plots.

Pausing keeps the intake going: the data sets keep growing and rolling. The
plots meanwhile draw from a `HeldData` of each data set, taken at the pause,
which reads like the data set (columns, names, run number, history and their
versions) and never changes. Zooming and panning while paused thin the held
rows again for the new view, and a new pattern picks its columns from them.

Taking it copies nothing: a data set's column views are never changed once
handed out (new rows go to new memory), and finished runs never change.
"""

from .columnkinds import KindsByName


class HeldData(KindsByName):
    """A data set as it was when taken (`HeldData(dataset)`), or a run cut
    after its first rows (`HeldData.cut`, what a replay shows)."""

    def __init__(self, dataset):
        self._hold(dataset.name, dataset, None, dataset.run_number, dataset.dropped,
                   dataset.history, dataset.version, dataset.history_version,
                   dataset.described.frozen())

    @classmethod
    def cut(cls, name: str, run, rows: int, *, run_number: int, history: tuple,
            version, history_version) -> "HeldData":
        """The first `rows` stored rows of `run` (a finished run.Run, or a
        data set's current run), with `history` the finished runs before it."""
        held = cls.__new__(cls)
        held._hold(name, run, rows, run_number, run.dropped, history, version, history_version,
                   run.described)
        return held

    def _hold(self, name, columns, rows, run_number, dropped, history, version, history_version,
              described) -> None:
        self.name = name
        self.column_names = list(columns.column_names)
        self._columns = {column: columns.column(column)[:rows] for column in self.column_names}
        self.run_number = run_number
        self.dropped = dropped  # rows of the run before the first one held
        self.history = history
        self.version = version
        self.history_version = history_version
        self.described = described  # kind, unit, words by name

    def column(self, name: str):
        return self._columns[name]

    def __len__(self) -> int:
        return len(next(iter(self._columns.values()))) if self._columns else 0

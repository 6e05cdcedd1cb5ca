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
    def __init__(self, dataset):
        self.name = dataset.name
        self.column_names = dataset.column_names
        self._columns = {name: dataset.column(name) for name in self.column_names}
        self.run_number = dataset.run_number
        self.dropped = dataset.dropped
        self.history = dataset.history
        self.version = dataset.version
        self.history_version = dataset.history_version
        self.described = dataset.described.frozen()  # kind, unit, words by name

    def column(self, name: str):
        return self._columns[name]

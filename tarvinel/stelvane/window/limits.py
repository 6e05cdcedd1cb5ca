"""The window's limit lines (--limit NAME=VALUE, or K and its editor): a
horizontal line at each limit on the plots that show its curve, the
crossings of the points' current run counted (model/limits.py) against the
X the curve is drawn against, marked on the live plot, and said in the
status bar and in --summary. Counting goes on while the plots are paused,
as the other counts in the status bar do.
"""

from .. import config
from ..model.columnkinds import PLAIN_FORMATS
from ..model.limits import RunCrossings
from ..model.modes import MODES
from ..widgets.limitmarks import LimitMarks


class LimitLines:
    """The limits of `window` (a MainWindow), in the order given."""

    def __init__(self, window, limits=()):
        self.window = window
        self.runs = [RunCrossings(limit) for limit in limits]
        self.presenters = [p for p in window.plot_presenters if p.follows_selection]
        self.marks = {p.name: LimitMarks(p.plot) for p in self.presenters}
        self._x_of: dict = {}  # curve name -> the X column the points draw it against

    @property
    def limits(self) -> list:
        return [run.limit for run in self.runs]

    def set_limits(self, limits) -> None:
        """Watches `limits` from now on; a limit kept as it was keeps its count."""
        kept = {run.limit: run for run in self.runs}
        self.runs = [kept.get(limit) or RunCrossings(limit) for limit in limits]
        self.refresh()

    def _x_columns(self) -> dict:
        """Curve name -> X column, from the points' pairs (the first pair
        that draws the curve); kept while another mode is shown."""
        selection = self.window.selection
        if selection.mode == MODES[0].key:
            found = {}
            for x, y in selection.pairs:
                found.setdefault(y, x)
            self._x_of = found
        return self._x_of

    def refresh(self) -> None:
        """Counts the rows that arrived, and shows the lines, marks and counts."""
        if not self.runs and not any(marks.lines for marks in self.marks.values()):
            return
        x_of = self._count()
        self.window.status_bar.show_limits([(run.limit.name, run.count.count) for run in self.runs])
        for number, presenter in enumerate(self.presenters):
            self.marks[presenter.name].show(self._shown(presenter, x_of, marked=number == 0))

    def _count(self) -> dict:
        """Counts the rows that arrived; returns the X column of each curve."""
        x_of = self._x_columns()
        for run in self.runs:
            run.update(self.window.point_dataset, x_of.get(run.limit.name))
        return x_of

    def _shown(self, presenter, x_of: dict, marked: bool) -> list:
        """What `presenter`'s plot draws of the limits: a line for each curve
        it shows in a plain format, and on the live plot (`marked`) the
        crossings where the curve is drawn against the X they were counted on."""
        frame = presenter.frame
        if frame is None or frame.fy not in PLAIN_FORMATS or frame.record.key != MODES[0].key:
            return []
        keys = {y: (key, x) for key, (x, y) in reversed(list(zip(config.ridx, frame.pairs)))}
        shown = []
        for run in self.runs:
            name = run.limit.name
            if name not in keys:
                continue
            key, x = keys[name]
            marks = (list(run.count.marks) if marked and frame.fx in PLAIN_FORMATS
                     and x == x_of.get(name) else None)
            shown.append((name, run.limit.value, presenter.plot.colors[key], marks))
        return shown

    def summary(self) -> list[dict]:
        """For --summary: each limit's value, crossings, and the X of the
        first and the last crossing, every row that arrived counted."""
        self._count()
        return [run.as_dict() for run in self.runs]

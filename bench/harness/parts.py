"""Where a live window's processor time goes, part by part.

A PartClock wraps a few methods of the window's classes (class attributes,
so every instance and every caller, the native intake included, goes
through the wrapper) and adds up the GUI thread's processor time spent in
each. A part called from inside another is taken out of the outer one, so
the parts add up to no more than the thread's time: what is left is the
event loop, the other widgets and the other threads ("other").

    queue     the pipe read and the unpickling of the producer's items
    append    Dataset.append: the rows stored
    thinning  the live plot's rows chosen and thinned (LiveRun.rows/series)
    setData   the plot widget's set_data: pyqtgraph's setData of a curve
    fit       the view fitted to the new data (PlotView.settle)
    still     whether new rows show (presenters/stillness.py)
    painting  the plots' paint events (curves, axes, grid)
    present   the rest of the presenters' frame (what changed, titles, legend)
"""

import contextlib
import time

PART_NAMES = ("queue", "append", "thinning", "setData", "fit", "still", "painting", "present")


def watched_methods() -> dict:
    """part name -> [(class, method name)] the part is measured at."""
    import pyqtgraph as pg

    from tarvinel.stelvane.dataset import Dataset
    from tarvinel.stelvane.presenters.presenter import Presenter
    from tarvinel.stelvane.presenters.stillness import StillFrames
    from tarvinel.stelvane.model.liverun import LiveRun
    from tarvinel.stelvane.widgets.views import PlotView
    from tarvinel.stelvane.window.intake import PipeItems

    return {"queue": [(PipeItems, "get")], "append": [(Dataset, "append")],
            "thinning": [(LiveRun, "rows"), (LiveRun, "series")],
            "setData": [(PlotView, "set_data")], "fit": [(PlotView, "settle")],
            "still": [(StillFrames, "to_update"), (StillFrames, "drew")],
            # The binding calls PlotView's paintEvent straight from Qt; its
            # super() call finds pyqtgraph's by name, at every paint.
            "painting": [(pg.GraphicsView, "paintEvent")], "present": [(Presenter, "present")]}


class PartClock:
    """Processor time of the GUI thread per part (`spent[name]`, seconds,
    each part's own: the parts it calls are counted as theirs)."""

    def __init__(self):
        self.spent = dict.fromkeys(PART_NAMES, 0.0)
        self._inner = [0.0]  # per open call: time its inner parts took
        self._saved = []     # (class, name, original attribute)

    def install(self) -> "PartClock":
        for part, methods in watched_methods().items():
            for owner, name in methods:
                original = owner.__dict__.get(name, getattr(owner, name))
                self._saved.append((owner, name, owner.__dict__.get(name)))
                setattr(owner, name, self._timed(part, original))
        return self

    def remove(self) -> None:
        for owner, name, original in reversed(self._saved):
            if original is None:
                delattr(owner, name)
            else:
                setattr(owner, name, original)
        self._saved.clear()

    def _timed(self, part: str, method):
        clock = self

        def timed(*args, **kwargs):
            clock._inner.append(0.0)
            start = time.thread_time()
            try:
                return method(*args, **kwargs)
            finally:
                spent = time.thread_time() - start
                inner = clock._inner.pop()
                clock.spent[part] += spent - inner
                clock._inner[-1] += spent
        return timed

    def snapshot(self) -> dict:
        return dict(self.spent)


@contextlib.contextmanager
def clocked():
    """A PartClock installed for the block's duration."""
    clock = PartClock().install()
    try:
        yield clock
    finally:
        clock.remove()

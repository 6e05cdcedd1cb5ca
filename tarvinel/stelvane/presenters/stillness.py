"""The live plot's frames held back while new rows change no pixel.

The live presenter draws again whenever the rows behind its curves change.
Where only the ends of those rows moved (rows came, rows left the window's
start) and none of them shows (model/pixels.py says when one does), the
frame is not drawn: the curves keep the rows they have, and the next frame
compares its rows with those drawn, so rows held back add up until they
show. A frame that is drawn updates every curve whose rows changed and
leaves the others as they are (pyqtgraph's setData costs a curve a good
part of a millisecond); the curves whose rows were held back go with it,
since painting the frame costs several times that. A slow source's frames
then follow its data, a pixel at a time; a fast one moves something at
every frame and is drawn at the display's rate.

Anything else (another run, mode, pair, format or size, the user's pan or
zoom, which changes the rows or the points wanted) draws as before; a pan
or zoom is painted by the view at once in any case.
"""

from functools import reduce
import math

from ..model.liverun import rows_of
from ..model.pixels import ViewAxis, bounds, fit_moves, joined, points_show


def grown_only(drawn, state) -> bool:
    """Whether `state` (LivePresenter's) differs from the `drawn` one only
    in the ends of each pair's rows, both moved on (or not at all)."""
    if drawn is None or drawn[:-1] != state[:-1]:
        return False
    for old, new in zip(drawn[-1], state[-1]):
        if (old is None) != (new is None):
            return False
        if old is not None and (old[2] != new[2] or new[0] < old[0] or new[1] < old[1]
                                or new[0] >= old[1]):
            return False
    return True


def _union(each):
    return reduce(joined, each, None)


def view_axes(plot) -> tuple[ViewAxis, ViewAxis]:
    """The plot's view as drawn, across and along."""
    vb = plot.plotItem.vb
    (x0, x1), (y0, y1) = vb.viewRange()
    return (ViewAxis(x0, x1, vb.width(), plot.plotItem.getAxis("bottom").logMode),
            ViewAxis(y0, y1, vb.height(), plot.plotItem.getAxis("left").logMode))


class StillFrames:
    """Tells the live presenter which curves a frame updates (`to_update`), from
    what it drew last (`drew`)."""

    def __init__(self):
        self.curve_bounds: list = []  # per curve drawn: its (x, y) bounds in view units
        self.held = 0  # frames held back whole (for the curious, and the tests)
        self.kept = 0  # curves without new rows left as they were in frames drawn

    @property
    def bounds(self):
        """(x, y) bounds of all the curves drawn, as the view fits them."""
        return (_union(b[0] for b in self.curve_bounds), _union(b[1] for b in self.curve_bounds))

    def drew(self, plot, series, updated=None) -> None:
        """The curves now show `series` (thinned: their bounds are the
        rows'); those not `updated` (a flag per curve; None: all) kept theirs."""
        # Bounds in view units need the axes' scales only, not the view.
        item = plot.plotItem
        x_axis, y_axis = (ViewAxis(0.0, 1.0, 1.0, item.getAxis(side).logMode)
                          for side in ("bottom", "left"))
        kept = self.curve_bounds if updated is not None else []
        self.curve_bounds = [
            kept[i] if updated is not None and not updated[i] else
            (None, None) if data is None else (bounds(x_axis, data[0]), bounds(y_axis, data[1]))
            for i, data in enumerate(series)]

    def to_update(self, plot, frame, drawn, state):
        """Which curves the frame of `state` updates, `drawn` being the state
        last drawn (LivePresenter's): a flag per pair, none set when the
        frame is held back whole; None when every curve is updated."""
        vb = plot.plotItem.vb
        if (len(self.curve_bounds) != len(state[-1]) or any(vb.state["autoVisibleOnly"])
                or not grown_only(drawn, state)):
            return None
        axes = view_axes(plot)
        if axes[0].per_unit == 0 or axes[1].per_unit == 0 or self._newest_moves(vb, axes, frame,
                                                                               state):
            return None
        new_bounds, shows = list(self.bounds), []
        offset = frame.data.dropped
        for pair, old, new in zip(frame.pairs, drawn[-1], state[-1]):
            if old is None or old == new:
                shows.append(False)
                continue
            if old[0] < offset < new[0]:
                return None  # rows that left the window are gone from memory too
            ends = self._ends(frame, pair, old, new, offset)
            if not self._bounds_kept(axes, new_bounds, ends):
                return None
            shows.append(any(points_show(*axes, *rows, anchor) for rows, anchor in ends))
        if any(auto and fit_moves(axis, old, new) for auto, axis, old, new in
               zip(vb.autoRangeEnabled(), axes, self.bounds, new_bounds)):
            return None
        if not any(shows):
            self.held += 1
            return shows
        # A frame is painted anyway: every curve with new rows goes into it
        # (a frame costs several times a curve's setData).
        updated = [old != new for old, new in zip(drawn[-1], state[-1])]
        self.kept += updated.count(False)
        return updated

    def _newest_moves(self, vb, axes, frame, state) -> bool:
        """Whether the newest row of a curve alone moves the fitted view: a
        growing or scrolling X, told from one point a curve (the common
        case at any rate worth drawing, found before looking at every row)."""
        autos = vb.autoRangeEnabled()
        if not any(autos):
            return False
        newest = [None, None]
        for pair, rows in zip(frame.pairs, state[-1]):
            if rows is not None and rows[1] > rows[0]:
                at = rows[1] - 1 - frame.data.dropped
                x, y = rows_of(frame.data, pair, frame.fx, frame.fy, (at, at + 1))
                for i, (axis, value) in enumerate(zip(axes, (x[0], y[0]))):
                    placed = axis.place_one(value)
                    if math.isfinite(placed):
                        newest[i] = joined(newest[i], (placed, placed))
        return any(auto and fit_moves(axis, drawn, joined(drawn, point))
                   for auto, axis, drawn, point in zip(autos, axes, self.bounds, newest))

    @staticmethod
    def _ends(frame, pair, old, new, offset):
        """[(the rows that came (x, y), the last drawn point), (the rows that
        left, the first point kept)] of one pair."""
        data = frame.data

        def rows(first, last):
            return rows_of(data, pair, frame.fx, frame.fy, (first - offset, last - offset))
        came, left = rows(old[1], new[1]), rows(old[0], new[0])
        last, first = rows(old[1] - 1, old[1]), rows(new[0], new[0] + 1)
        return [(came, (last[0][0], last[1][0])), (left, (first[0][0], first[1][0]))]

    @staticmethod
    def _bounds_kept(axes, new_bounds, ends) -> bool:
        """Adds the rows that came to `new_bounds`; false when rows that
        left held a bound (the bounds of those kept are then unknown)."""
        (came, _), (left, _) = ends
        for i, axis in enumerate(axes):
            gone = bounds(axis, left[i])
            kept = new_bounds[i]
            if gone is not None and (kept is None or gone[0] <= kept[0] or gone[1] >= kept[1]):
                return False
            new_bounds[i] = joined(kept, bounds(axis, came[i]))
        return True

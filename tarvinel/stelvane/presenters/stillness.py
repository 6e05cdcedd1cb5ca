"""The live plot's frames held back while new rows change no pixel.

The live presenter draws again whenever the rows behind its curves change.
Where only the ends of those rows moved (rows came, rows left the window's
start) and none of them shows (model/pixels.py says when one does), the
frame is not drawn: the curves keep the rows they have, and the next frame
compares its rows with those drawn, so rows held back add up until they
show. A slow source's frames then follow its data, a pixel at a time; a fast
one moves something at every frame and is drawn at the display's rate.

Anything else (another run, mode, pair, format or size, the user's pan or
zoom, which changes the rows or the points wanted) draws as before; a pan
or zoom is painted by the view at once in any case.
"""

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


def view_axes(plot) -> tuple[ViewAxis, ViewAxis]:
    vb = plot.plotItem.vb
    (x0, x1), (y0, y1) = vb.viewRange()
    return (ViewAxis(x0, x1, vb.width(), plot.plotItem.getAxis("bottom").logMode),
            ViewAxis(y0, y1, vb.height(), plot.plotItem.getAxis("left").logMode))


class StillFrames:
    """Tells the live presenter which frames to hold back (`holds`), from
    what it drew last (`drew`)."""

    def __init__(self):
        self.bounds = None  # (x, y) bounds of the curves drawn, in view units
        self.held = 0       # frames held back (for the curious, and the tests)

    def drew(self, plot, series) -> None:
        """The curves now show `series` (thinned: their bounds are the rows')."""
        x_axis, y_axis = view_axes(plot)
        x_bounds = y_bounds = None
        for data in series:
            if data is not None:
                x_bounds = joined(x_bounds, bounds(x_axis, data[0]))
                y_bounds = joined(y_bounds, bounds(y_axis, data[1]))
        self.bounds = (x_bounds, y_bounds)

    def holds(self, plot, frame, drawn, state) -> bool:
        """Whether the frame of `state` may be held back, `drawn` being the
        last one drawn (LivePresenter's states)."""
        vb = plot.plotItem.vb
        if self.bounds is None or any(vb.state["autoVisibleOnly"]) or not grown_only(drawn, state):
            return False
        axes = view_axes(plot)
        if axes[0].per_unit == 0 or axes[1].per_unit == 0:
            return False
        new_bounds = list(self.bounds)
        offset = frame.data.dropped
        for pair, old, new in zip(frame.pairs, drawn[-1], state[-1]):
            if old is None:
                continue
            if old[0] < offset < new[0]:
                return False  # rows that left the window are gone from memory too
            ends = self._ends(frame, pair, old, new, offset)
            if any(points_show(*axes, *rows, anchor) for rows, anchor in ends):
                return False
            if not self._bounds_kept(axes, new_bounds, ends):
                return False
        if any(auto and fit_moves(axis, old, new) for auto, axis, old, new in
                          zip(vb.autoRangeEnabled(), axes, self.bounds, new_bounds)):
            return False
        self.held += 1
        return True

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

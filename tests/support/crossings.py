"""A limit line's crossings found the slow way, one row at a time: what the
limits' tests compare the window's counts and marks with."""

import math


def walked(x, y, value):
    """The X of each crossing of `value` by the rows (x, y): each row with a
    finite x and y off the line is on a side; a change of side between two
    such rows is a crossing, where the straight line between them meets
    the limit."""
    found, before = [], None
    for xi, yi in zip(list(x), list(y)):
        xi, yi = float(xi), float(yi)
        if not (math.isfinite(xi) and math.isfinite(yi)) or yi == value:
            continue
        if before is not None and (before[1] > value) != (yi > value):
            x0, y0 = before
            found.append(x0 + (value - y0) * (xi - x0) / (yi - y0))
        before = (xi, yi)
    return found

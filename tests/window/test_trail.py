"""An (X,Y) pair whose X does not grow: a trail over the live window's rows,
fading with age, its newest point ringed; a pair whose X grows stays a
plain curve."""

import queue as queue_module

import numpy as np
import pyqtgraph as pg
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.widgets.trail import LEVELS, level_alphas, stretches

from tests.support.userinput import type_pattern
from tests.support.window import WAIT, active_window, put_all

Qt = qt_compat.QtCore.Qt
T = np.linspace(0, 20, 500)
ROWS = np.column_stack([T, np.cos(T), np.sin(T)])


@pytest.fixture
def circling(qtbot):
    """A window showing a point that circles: x = cos t, y = sin t."""
    queue = queue_module.Queue()
    win = active_window(qtbot, queue)
    put_all(queue, [("PN", ["t", "x", "y"]), ("PXY", "x,y"), ("PD", ROWS)])
    presenter = win.plot_presenters[0]
    qtbot.waitUntil(lambda: presenter.trails.keys == {0}, timeout=WAIT)
    yield win, presenter
    win.close()


def pen_alpha(curve):
    return pg.mkPen(curve.opts["pen"]).color().alpha()


def drawn_points(trail):
    return sum(max(0, len(segment.xData if segment.xData is not None else ()) - 1)
               for segment in trail.segments) + 1


def test_a_pair_whose_x_does_not_grow_is_a_fading_trail_with_its_newest_point_ringed(
        qtbot, circling):
    win, presenter = circling
    trail = presenter.trails.trails[0]
    assert presenter.trails.newest_point(0) == pytest.approx((np.cos(20), np.sin(20)))
    alphas = [segment.opts["pen"].color().alpha() for segment in trail.segments]
    assert alphas == sorted(alphas) and alphas[0] < 64 and alphas[-1] == 255
    # The newest stretch ends at the newest row.
    assert trail.segments[-1].xData[-1] == pytest.approx(np.cos(20))
    assert pen_alpha(win.live_plot.plots[0]) == 0  # the curve itself, under the trail
    assert drawn_points(trail) == len(T)

    # The live window limits the trail.
    field = win.window_field.field
    type_pattern(qtbot, field, "100 rows")
    qtbot.waitUntil(lambda: drawn_points(presenter.trails.trails[0]) == 100, timeout=WAIT)
    assert presenter.trails.newest_point(0) == pytest.approx((np.cos(20), np.sin(20)))


def test_a_pair_whose_x_grows_is_a_plain_curve_again(qtbot, circling):
    win, presenter = circling
    drawn = presenter.trails.trails[0].items()
    type_pattern(qtbot, win.modes["P"].controls.pattern_field, "t,y")
    qtbot.waitUntil(lambda: not presenter.trails.keys, timeout=WAIT)
    assert pen_alpha(win.live_plot.plots[0]) == 255
    assert all(item.scene() is None for item in drawn)  # no stretch or ring left behind


def test_the_stretches_cover_every_point_once_and_fade_oldest_first():
    parts = stretches(1000)
    assert len(parts) == LEVELS and parts[0].start == 0 and parts[-1].stop == 1000
    assert all(a.stop - 1 == b.start for a, b in zip(parts, parts[1:]))
    assert stretches(3) == [slice(0, 2), slice(1, 3)] and stretches(1) == []
    assert level_alphas(3) == sorted(level_alphas(3)) and level_alphas(3)[-1] == 255

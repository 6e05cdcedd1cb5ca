"""When new rows change a picture by a pixel: the arithmetic the live plot's
held-back frames rest on, over plain numbers (a 1000-pixel view of 0..100)."""

import numpy as np
import pytest

from tarvinel.stelvane.model.pixels import ViewAxis, bounds, fit_moves, points_show

X = ViewAxis(0.0, 100.0, 1000)   # 0.1 a pixel
Y = ViewAxis(-1.0, 1.0, 200)     # 0.01 a pixel
LOG_X = ViewAxis(0.0, 3.0, 300, log=True)  # 1 .. 1000, 100 pixels a decade


@pytest.mark.parametrize("x, y, shows", [
    ([50.02, 50.09], [0.001, -0.009], False),  # within a pixel of the anchor (50.0, 0.0)
    ([50.1], [0.001], True),                   # a pixel along
    ([50.02], [0.011], True),                  # a pixel across
    ([50.02, np.nan], [0.0, 0.0], True),       # a gap is a change
    ([150.0, 160.0], [0.5, -0.5], False),      # beyond the right edge, with the anchor
    ([], [], False),
])
def test_new_points_show_unless_within_a_pixel_of_the_anchor_or_off_one_edge(x, y, shows):
    anchor = (50.0, 0.0) if not x or x[0] < 100 else (120.0, 0.0)
    assert points_show(X, Y, np.array(x), np.array(y), anchor) is shows


def test_points_across_the_view_from_beyond_it_show():
    assert points_show(X, Y, np.array([50.0]), np.array([0.5]), (150.0, 0.5))


def test_a_log_axis_places_values_by_their_logarithm():
    assert not points_show(LOG_X, Y, np.array([100.5]), np.array([0.0]), (100.0, 0.0))
    assert points_show(LOG_X, Y, np.array([103.0]), np.array([0.0]), (100.0, 0.0))
    assert bounds(LOG_X, np.array([-1.0, 10.0, 1000.0])) == (1.0, 3.0)


def test_the_fitted_view_moves_when_a_bound_moves_a_pixel():
    padded = ViewAxis(-2.0, 102.0, 1040)  # bounds 0..100 padded by 2% each side, 0.1 a pixel
    assert not fit_moves(padded, (0.0, 100.0), (0.0, 100.05))
    assert fit_moves(padded, (0.0, 100.0), (0.0, 100.2))
    assert fit_moves(padded, (0.0, 100.0), (-0.2, 100.0))
    assert not fit_moves(padded, (0.0, 100.0), (0.0, 100.0))
    assert fit_moves(ViewAxis(-1.0, 1.0, 100), (0.0, 0.0), (0.0, 0.001))  # a flat curve's
    assert fit_moves(padded, None, (0.0, 1.0))

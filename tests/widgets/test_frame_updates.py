"""What a frame leaves alone: status labels set only when their text
changes, and keeping their room, so a figure one digit shorter does not lay
the status bar and the window out again."""
import numpy as np
import pytest

from tarvinel.stelvane.widgets import statusbar, views


def test_status_labels_keep_their_room_and_skip_unchanged_texts(qtbot, monkeypatch):
    bar = statusbar.StatusBar()
    qtbot.addWidget(bar)
    bar.resize(1200, 30)
    bar.show()
    bar.show_rate(123_456.0, 60.0)
    wide = bar.rate_label.sizeHint().width()
    assert bar.rate_label.text() == "123,456 points/s · 60 fps" and wide > 0
    bar.show_rate(7.0, 9.0)
    assert bar.rate_label.text() == "7 points/s · 9 fps"
    assert bar.rate_label.sizeHint().width() == wide  # no narrower: no new layout
    bar.show_pairs(3, 8)
    set_texts = []
    monkeypatch.setattr(bar.pairs_label, "setText", set_texts.append)
    bar.show_pairs(3, 8)
    assert set_texts == []  # the same text again is not set
    bar.show_pairs(9, 8)
    qtbot.wait(10)  # the bar lays out the longer label
    assert set_texts[-1] == "pairs 9 (8 shown)" and bar.pairs_label.text() == "pairs 9 (8 shown)"


def test_a_legend_is_placed_again_only_when_the_data_or_the_view_changed(qtbot, monkeypatch):
    import numpy as np
    from tarvinel.stelvane.widgets.legend import CurveLegend

    plot = views.PlotView("live")
    qtbot.addWidget(plot)
    plot.resize(600, 300)
    with qtbot.waitExposed(plot):
        plot.show()
    legend = CurveLegend(plot)
    x = np.linspace(0.0, 10.0, 200)
    plot.set_data(0, x, np.sin(x))
    legend.show_names([0], ["sine"])
    looked = []
    monkeypatch.setattr(legend, "_points_in_pixels", lambda view: looked.append(view))
    legend.place()
    assert looked == []  # nothing changed since show_names placed it
    plot.set_data(0, x, np.cos(x))  # new arrays
    legend.place()
    assert len(looked) == 1
    plot.plotItem.vb.setXRange(2.0, 4.0)
    legend.place()
    legend.place()
    assert len(looked) == 2


@pytest.fixture
def two_plots(qtbot):
    """Two plots side by side: one settles as the window does, the other fits as pyqtgraph does."""
    plots = []
    for _ in range(2):
        plot = views.PlotView("live")
        qtbot.addWidget(plot)
        plot.resize(500, 300)
        plot.show()
        plots.append(plot)
    qtbot.waitExposed(plots[1])
    return plots


def settle_both(two_plots, monkeypatch, y, x):
    """Feeds both plots, settles ours, fits theirs as pyqtgraph's paint does;
    returns how often our curve was made again by the settling."""
    ours, theirs = two_plots
    for plot in two_plots:
        plot.set_data(0, x, y)
    made = []
    curve = ours.plots[0]
    with monkeypatch.context() as m:
        m.setattr(curve, "updateItems", lambda styleUpdate=True:
                  made.append(1) or type(curve).updateItems(curve, styleUpdate))
        ours.settle()
    theirs.scene().prepareForPaint()
    assert ours.plotItem.vb.viewRange() == theirs.plotItem.vb.viewRange()
    drawn = [plot.plots[0].curve.getData() for plot in two_plots]
    assert np.array_equal(drawn[0][0], drawn[1][0]) and np.array_equal(drawn[0][1], drawn[1][1])
    return len(made), drawn[0]


def test_settling_draws_the_curve_pyqtgraph_draws_after_its_own_fit(two_plots, monkeypatch):
    x = np.linspace(0.0, 10.0, 400)
    for step in range(3):  # each fit changes the view's height
        made, _ = settle_both(two_plots, monkeypatch, np.sin(x) * (step + 1), x)
        assert made == 0  # the curve is not made again for a fit


def test_a_fit_that_makes_the_range_limit_apply_cuts_the_curve_as_pyqtgraph_does(two_plots,
                                                                                  monkeypatch):
    x = np.linspace(0.0, 10.0, 400)
    y = np.sin(x)
    y[360] = 1e12  # at x = 9
    settle_both(two_plots, monkeypatch, y, x)  # all in view: nothing cut
    for plot in two_plots:  # then y fits the visible part only, x = 0 .. 5
        plot.plotItem.vb.setXRange(0.0, 5.0, padding=0)
        plot.plotItem.vb.setAutoVisible(y=True)
    made, (_, drawn_y) = settle_both(two_plots, monkeypatch, y * 1.5, x)
    assert made == 1 and drawn_y.max() < 1e12  # the spike was cut, as pyqtgraph cuts it

"""What a frame leaves alone: status labels set only when their text
changes, and keeping their room, so a figure one digit shorter does not lay
the status bar and the window out again."""
from tarvinel.stelvane import views


def test_status_labels_keep_their_room_and_skip_unchanged_texts(qtbot, monkeypatch):
    bar = views.StatusBar()
    qtbot.addWidget(bar)
    bar.show_rate(123_456.0, 60.0)
    wide = bar.rate_label.minimumWidth()
    assert bar.rate_label.text() == "123,456 points/s · 60 fps" and wide > 0
    bar.show_rate(7.0, 9.0)
    assert bar.rate_label.text() == "7 points/s · 9 fps"
    assert bar.rate_label.minimumWidth() == wide  # no narrower: no new layout
    bar.show_pairs(3, 8)
    set_texts = []
    monkeypatch.setattr(bar.pairs_label, "setText", set_texts.append)
    bar.show_pairs(3, 8)
    assert set_texts == []  # the same text again is not set
    bar.show_pairs(9, 8)
    assert set_texts == ["pairs 9 (8 shown)"]


def test_a_legend_is_placed_again_only_when_the_data_or_the_view_changed(qtbot, monkeypatch):
    import numpy as np
    from tarvinel.stelvane.legend import CurveLegend

    plot = views.PlotView("live")
    qtbot.addWidget(plot)
    plot.resize(600, 300)
    plot.show()
    qtbot.waitExposed(plot)
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

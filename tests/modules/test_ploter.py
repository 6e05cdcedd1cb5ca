"""PlotWidget as the host builds and feeds it: colours, curve styles, labels,
ranges and the data binding of the curves."""
import numpy as np
import pytest

from tarvinel.stelvane import config, ploter


@pytest.fixture
def make_widget(qtbot):
    def make(*args, **kwargs):
        widget = ploter.PlotWidget(*args, **kwargs)
        qtbot.addWidget(widget)
        return widget

    return make


def curve_data(widget):
    return {key: tuple(np.asarray(a).tolist() for a in curve.getData()) for key, curve in widget.plots.items()}


class TestColours:
    def test_none_shares_the_default_list(self, make_widget):
        assert make_widget().colors is config.defualt_colors

    def test_short_list_is_filled_up_in_place(self, make_widget):
        mine = ["#000001", "#000002"]
        widget = make_widget(colors=mine)
        assert widget.colors is mine
        assert mine == ["#000001", "#000002"] + config.defualt_colors[2:]

    @pytest.mark.parametrize("extra", [0, 3])
    def test_list_as_long_or_longer_is_used_unchanged(self, make_widget, extra):
        mine = [f"#0000{n:02x}" for n in range(len(config.defualt_colors) + extra)]
        before = list(mine)
        widget = make_widget(colors=mine)
        assert widget.colors is mine and mine == before

    def test_short_immutable_sequence_fails_before_the_widget_exists(self):
        with pytest.raises(AttributeError, match="extend"):
            ploter.PlotWidget(colors=("#000001",))

    def test_each_curve_gets_its_pen_symbols_and_size(self, make_widget):
        widget = make_widget(colors=["#102030"])
        assert list(widget.plots) == list(config.ridx)
        assert all(curve in widget.plotItem.listDataItems() for curve in widget.plots.values())
        for key, curve in widget.plots.items():
            colour = widget.colors[key]
            assert curve.opts["pen"] == {"color": colour, "width": config.widths[key]}
            assert curve.opts["symbolBrush"] == colour
            assert curve.opts["symbolPen"] == {"width": 0, "color": colour}
            assert curve.opts["symbolSize"] == config.SymSize[key]


class TestConstruction:
    def test_initial_state(self, make_widget):
        widget = make_widget()
        assert widget.minimumHeight() == 300
        assert (widget.XAxisLinked, widget.YAxisLinked, widget.range_select) == (False, False, False)
        assert (widget.clippos1, widget.clippos2, widget.xname, widget.yname) == (0, 0, "", "")
        for label, text, top in ((widget.XLabel, "X:", 5), (widget.YLabel, "Y:", 35)):
            assert label.parent() is widget and label.text() == text
            assert (label.x(), label.y()) == (0, top)
        assert all(curve.getData() == (None, None) for curve in widget.plots.values())

    def test_minimum_height_by_position_and_keyword(self, make_widget):
        assert make_widget(120).minimumHeight() == 120
        assert make_widget(minimum_height=450).minimumHeight() == 450

    def test_update_takes_no_argument(self, make_widget):
        widget = make_widget()
        assert widget.update() is None
        with pytest.raises(TypeError, match="takes 1 positional argument"):
            widget.update(widget.rect())


class TestLabels:
    @pytest.mark.parametrize(
        "name, shown",
        [("", ""), ("volts", "volts"), (3, "3"), (0.1 + 0.2, "0.30000000000000004"), (1e16, "1e+16"), (2.0, "2.0"),
         (None, "None")],
    )
    def test_label_text_and_stored_name(self, make_widget, name, shown):
        widget = make_widget()
        widget.set_X_label(name)
        widget.set_Y_label(name)
        assert widget.xname is name and widget.yname is name
        assert (widget.XLabel.text(), widget.YLabel.text()) == ("X:" + shown, "Y:" + shown)


class TestDataAndRange:
    def test_set_data_changes_only_its_curve_in_any_order(self, make_widget):
        first, second = make_widget(), make_widget()
        feeds = {1: (np.arange(4.0), np.arange(4.0) ** 2), 5: (np.array([0.5, 1.5]), np.array([-1.0, 2.0]))}
        first.set_data(1, *feeds[1])
        assert {k for k, (x, _) in curve_data(first).items() if x} == {1}
        first.set_data(5, *feeds[5])
        for key in reversed(list(feeds)):
            second.set_data(key, *feeds[key])
        assert curve_data(first) == curve_data(second)
        assert curve_data(first)[5] == ([0.5, 1.5], [-1.0, 2.0])

    def test_set_data_on_an_unknown_key_changes_no_curve(self, make_widget):
        widget = make_widget()
        widget.set_data(0, [1.0, 2.0], [3.0, 4.0])
        before = curve_data(widget)
        with pytest.raises(KeyError):
            widget.set_data("nope", [9.0], [9.0])
        assert curve_data(widget) == before

    def test_auto_range_fits_and_enable_auto_range_follows_the_data(self, make_widget):
        widget = make_widget()
        widget.set_data(2, np.array([10.0, 20.0]), np.array([-5.0, 5.0]))
        widget.setXRange(500, 600)
        widget.auto_range()
        (x0, x1), (y0, y1) = widget.plotItem.vb.viewRange()
        assert x0 <= 10 < 20 <= x1 and x1 - x0 < 20 and y0 <= -5 < 5 <= y1
        widget.setXRange(500, 600)
        assert widget.plotItem.vb.state["autoRange"][0] is False
        widget.enable_auto_range()
        assert all(widget.plotItem.vb.state["autoRange"])

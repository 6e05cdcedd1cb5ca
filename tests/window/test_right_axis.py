"""The second Y axis: curves put on it by the pattern's (?#right) mark or by
the legend's menu, its own range, log scale and label, F and A on both
axes, and the readout of both."""

import queue as queue_module

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.model.axissides import AxisSides, marked_right

from tests.support.userinput import hover, on_widget, type_pattern
from tests.support.window import WAIT, active_window, put_all

QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets
Qt = QtCore.Qt
T = np.arange(200, dtype=float)
# Volts about 1, amps about a thousand: on one axis the volts would be a flat line.
ROWS = np.column_stack([T, 1 + 0.5 * np.sin(T / 10), 1000 + 400 * np.cos(T / 10)])


@pytest.fixture
def two_scales(qtbot):
    """A window showing volts and amps, their pattern typed as a user does
    (`pattern` then types another); (window, queue)."""
    queue = queue_module.Queue()
    win = active_window(qtbot, queue)
    put_all(queue, [("PN", ["t", "volts", "amps"]), ("PD", ROWS)])
    qtbot.waitUntil(lambda: win.point_dataset.column_names == ["t", "volts", "amps"], timeout=WAIT)
    yield win, queue
    win.close()


def apply_pattern(qtbot, win, text):
    type_pattern(qtbot, win.modes["P"].controls.pattern_field, text)
    qtbot.waitUntil(lambda: len(win.selection.pairs) == 2, timeout=WAIT)


def right_range(plot):
    return plot.right_axis.y_range()


def test_the_mark_puts_its_pairs_on_the_right_axis_with_their_own_range_and_label(qtbot, two_scales):
    win, _ = two_scales
    plot = win.live_plot
    apply_pattern(qtbot, win, "t,volts;t,amps(?#right)")
    qtbot.waitUntil(lambda: plot.right_axis.keys == {1}, timeout=WAIT)
    axis = plot.plotItem.getAxis("right")
    assert axis.isVisible() and axis.labelText == "amps"
    assert plot.YLabel.text() == "Y:volts"
    qtbot.waitUntil(lambda: right_range(plot)[0] < 700 and right_range(plot)[1] > 1300,
                    timeout=WAIT)
    low, high = plot.plotItem.vb.viewRange()[1]
    assert low > 0 and high < 2  # the volts fill the left axis alone
    # Without the mark, both are on the left again.
    apply_pattern(qtbot, win, "t,volts;t,amps")
    qtbot.waitUntil(lambda: not plot.right_axis.keys, timeout=WAIT)
    assert not plot.plotItem.getAxis("right").isVisible()
    assert plot.YLabel.text() == "Y:volts, amps"


def test_the_legend_menu_moves_a_curve_and_sets_the_right_log_scale(qtbot, two_scales):
    win, _ = two_scales
    plot, legend = win.live_plot, win.plot_presenters[0].legend
    apply_pattern(qtbot, win, "t,(volts|amps)")
    qtbot.waitUntil(lambda: len(legend.names) == 2, timeout=WAIT)

    def choose_in_menu(row):
        def pick():
            menu = QtWidgets.QApplication.activePopupWidget()
            menu.actions()[row].trigger()
            menu.close()
        QtCore.QTimer.singleShot(50, pick)
        label = legend.label
        QtWidgets.QApplication.sendEvent(label, qt_compat.QtGui.QContextMenuEvent(
            qt_compat.QtGui.QContextMenuEvent.Reason.Mouse, QtCore.QPoint(5, 5),
            label.mapToGlobal(QtCore.QPoint(5, 5))))

    choose_in_menu(1)  # "amps on the right axis"
    qtbot.waitUntil(lambda: plot.right_axis.keys == {1}, timeout=WAIT)
    assert win.history_plot.right_axis.keys == {1}  # the same curve on every plot
    choose_in_menu(3)  # "Right axis: log scale"
    qtbot.waitUntil(lambda: plot.plotItem.getAxis("right").logMode, timeout=WAIT)
    qtbot.waitUntil(lambda: 2.5 < right_range(plot)[0] and right_range(plot)[1] < 3.5,
                    timeout=WAIT)  # log10 of 600..1400
    assert not plot.plotItem.getAxis("left").logMode
    assert win.spectrum.legend.side_menu() is None  # the spectrum keeps one Y axis
    choose_in_menu(1)  # amps back on the left, on the left axis' linear scale
    qtbot.waitUntil(lambda: not plot.right_axis.keys, timeout=WAIT)
    assert list(plot.plots[1].opts["logMode"]) == [False, False]
    assert plot.plotItem.vb.viewRange()[1][1] > 1300  # the left axis holds the amps again


def test_f_fits_and_a_follows_both_axes_and_the_readout_reads_both(qtbot, two_scales):
    win, _ = two_scales
    plot = win.live_plot
    apply_pattern(qtbot, win, "t,volts;t,amps(?#right)")
    qtbot.waitUntil(lambda: plot.right_axis.keys == {1}, timeout=WAIT)
    plot.right_axis.set_y_range(-5, 5)
    plot.plotItem.vb.setYRange(100, 200)
    plot.setFocus()
    qtbot.keyClick(plot, Qt.Key.Key_F)
    qtbot.waitUntil(lambda: right_range(plot)[0] < 700 < 1300 < right_range(plot)[1], timeout=WAIT)
    assert right_range(plot)[1] < 1500
    assert plot.plotItem.vb.viewRange()[1][1] < 2
    plot.right_axis.set_y_range(-5, 5)
    qtbot.keyClick(plot, Qt.Key.Key_A)
    qtbot.waitUntil(lambda: right_range(plot)[1] > 1300, timeout=WAIT)

    shown = []
    win.readouts[0].show_text = shown.append
    hover(plot, on_widget(plot, 100, 1.0))
    qtbot.waitUntil(lambda: bool(shown) and "y (right) = " in shown[-1], timeout=WAIT)
    right_value = float(shown[-1].split("y (right) = ")[1])
    assert 600 < right_value < 1400


def test_a_pair_belongs_to_the_first_part_that_matches_it():
    pairs = [("t", "a"), ("t", "b"), ("t", "c")]
    assert marked_right("t,a;t,(a|b)(?# right)", pairs) == {("t", "b")}
    assert marked_right("t,.*", pairs) == frozenset()
    assert marked_right("t,[(?#right)", pairs) == frozenset()  # a part that does not compile
    sides = AxisSides()
    sides.choose(("t", "b"), False)
    sides.choose(("t", "c"), True)
    assert sides.right("t,a;t,(a|b)(?#right);t,c", pairs) == {("t", "c")}

"""The window's plots as entries of mainwindow.PLOTS: a plot added there is
laid out, fed, named in its legend, read out and saved like the others."""

import queue as queue_module

import numpy as np

from tarvinel.stelvane.window import mainwindow
from tarvinel.stelvane.presenters import plots

from tests.support.window import WAIT, active_window, filled_curves, put_all


def test_a_third_plot_is_one_entry_and_is_fed_like_the_others(qtbot, monkeypatch):
    own = mainwindow.PLOTS
    monkeypatch.setattr(mainwindow, "PLOTS", (*own, ("newest", plots.LivePresenter)))
    queue = queue_module.Queue()
    win = active_window(qtbot, queue)
    added = len(own)  # the new plot comes after the window's own
    third = win.plots[added]
    assert win.splitters["plots"].widget(added) is third
    assert [readout.plot for readout in win.readouts] == win.plots
    assert set(win.export_keys.plots) == {name for name, _ in own} | {"newest"}

    t = np.arange(50, dtype=float)
    put_all(queue, [("PN", ["t", "a", "b"]), ("PXY", "t,(a|b)"),
                    ("PD", np.column_stack([t, np.sin(t), np.cos(t)]))])
    qtbot.waitUntil(lambda: filled_curves(third) == [0, 1], timeout=WAIT)
    assert filled_curves(win.live_plot) == [0, 1]
    assert third.title_text == "newest: run 1"
    assert [name for name, _ in win.plot_presenters[added].legend.entries] == ["a", "b"]

    win.controls.pause.trigger()  # the new plot holds still with the others
    qtbot.waitUntil(lambda: third.title_text == "newest: run 1  (paused)", timeout=WAIT)
    win.close()

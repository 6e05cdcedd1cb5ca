"""What each of the frame's savings is worth, side by side in one window.

The demo's window (its default producer and rate) runs while one saving is
switched off and on again every second, the way the window worked before
it: `settle` (the paint fits the view a second time), `rows` (horizontal
grid lines stroked as lines), `hidden` (empty curves shown and asked for
their bounds), `ticks` (pyqtgraph's own tick values), `limits` (every curve
made again when a fit changes the view's height), and `all` of them at
once. Each second's processor time per frame is measured; printed are the
medians without and with the saving, their ratio and the median of the
paired ratios (a burst of load on the machine hits both halves of a pair).

    python bench/frameparts.py all --pairs 12
"""
import argparse
import statistics
import time

from harness.qtapp import application
from harness.sidebyside import alternating, paired_median
from harness.waiting import run_loop

import pyqtgraph as pg  # noqa: E402  (after the harness has chosen the binding)

from tarvinel.stelvane.widgets import axisdraw, views
from tarvinel.stelvane import qt_compat

SAVED = {"settle": views.PlotView.settle, "relax": views.PlotView._relax_range_limits,
         "shift": axisdraw.device_shift, "tick_values": axisdraw.tick_values}


def settle_twice(plot):
    plot.scene().prepareForPaint()  # the paint's own preparation fits the view again


def settle(window, on):
    views.PlotView.settle = SAVED["settle"] if on else settle_twice


def rows(window, on):
    axisdraw.device_shift = SAVED["shift"] if on else (lambda painter: None)
    for plot in window.plots:
        for side in ("bottom", "left"):
            plot.plotItem.getAxis(side).picture = None


def hidden(window, on):
    for presenter in window.plot_presenters:
        for key in presenter.curves.keys:
            if key not in presenter.curves._filled:
                presenter.plot.plots[key].setVisible(not on)


def ticks(window, on):
    axisdraw.tick_values = SAVED["tick_values"] if on else pg.AxisItem.tickValues


def limits(window, on):
    views.PlotView._relax_range_limits = SAVED["relax"] if on else (lambda plot: [])


def every_saving(window, on):
    for switch in (settle, rows, hidden, ticks, limits):
        switch(window, on)


SWITCHES = {"settle": settle, "rows": rows, "hidden": hidden, "ticks": ticks, "limits": limits,
            "all": every_saving}


def ms_per_frame(app, window, seconds: float) -> float:
    frames, cpu = window.live_plot.frames, time.process_time()
    run_loop(app, seconds)
    return 1e3 * (time.process_time() - cpu) / max(1, window.live_plot.frames - frames)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("saving", nargs="?", default="all", choices=sorted(SWITCHES))
    parser.add_argument("--pairs", type=int, default=10)
    args = parser.parse_args(argv)
    from tarvinel.stelvane.app import create_app

    app = application()
    window = create_app(["--fresh"]).window
    run_loop(app, 2.0)
    switch = SWITCHES[args.saving]

    def switched(on):
        def measured():
            switch(window, on)
            run_loop(app, 0.2)  # the switch's own first frame is not counted
            return ms_per_frame(app, window, 1.0)
        return measured

    spent = alternating(args.pairs, {False: switched(False), True: switched(True)})
    switch(window, True)
    window.close()
    without, with_ = statistics.median(spent[False]), statistics.median(spent[True])
    paired = paired_median(spent[True], spent[False])
    print(f"{qt_compat.API}, {args.saving}, {args.pairs} pairs: without {without:.2f} ms, with "
          f"{with_:.2f} ms of processor time per frame, ratio {with_ / without:.3f}, "
          f"paired median {paired:.3f}")


if __name__ == "__main__":
    main()

"""Processor time of the window per frame and per second, at the demo's own
rate and with nothing new to show.

The demo's window (`python -m tarvinel.stelvane`, its default producer and
rate, the remembered settings left aside) runs for a warm-up, then for a few
seconds in which this process' processor time (all its threads; the
producer is a process of its own and is not counted) and the live plot's
frames that showed new data are counted. Then the producer is stopped and
the window, which now has nothing new to show, is measured the same way.
Printed: frames per second, processor time per frame, processor time per
second (ms) and the share of one core the window's process used, and the
paints of each part of the window (plots, data boxes, status bar) per
second. `--seconds` sets how long each part is measured.
"""
import argparse
import os
import pathlib
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))

if not os.environ.get("DISPLAY") and not os.environ.get("QT_QPA_PLATFORM"):
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

from tarvinel.stelvane import qt_compat  # noqa: E402  (binding before pyqtgraph)
from tarvinel.stelvane.window import settings  # noqa: E402  (binding before pyqtgraph)

QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets
PAINT_EVENT = getattr(getattr(QtCore.QEvent, "Type", QtCore.QEvent), "Paint")

_SETTINGS_HOME = tempfile.TemporaryDirectory(prefix="stelvane-bench-settings-")
QtCore.QSettings.setPath(settings.INI, settings.USER_SCOPE, _SETTINGS_HOME.name)

WARMUP = 2.0
MEASURE = 4.0
TARGET_CORE = 0.35  # share of a core at the demo's rate


class PaintCounter(QtCore.QObject):
    """Paint events of a few widgets, by name."""

    def __init__(self, widgets: dict):
        super().__init__()
        self.names = {}
        self.paints = dict.fromkeys(widgets, 0)
        for name, widget in widgets.items():
            self.names[id(widget)] = name
            widget.installEventFilter(self)

    def eventFilter(self, watched, event):
        if event.type() == PAINT_EVENT:
            name = self.names.get(id(watched))
            if name is not None:
                self.paints[name] += 1
        return False


def wait(app, seconds):
    """Runs the event loop for `seconds`, as the application's own would run
    (a loop that polled would be counted as the window's processor time)."""
    loop = QtCore.QEventLoop()
    QtCore.QTimer.singleShot(round(1000 * seconds), loop.quit)
    loop.exec()


def watched_widgets(window) -> dict:
    widgets = {f"{presenter.name} plot": presenter.plot.viewport() for presenter in window.plot_presenters}
    for key, record in window.modes.items():
        widgets[f"{key} box"] = record.data_box.table.viewport()
    widgets["status bar"] = window.status_bar
    return widgets


def measure(app, window, counter, seconds: float) -> dict:
    before = dict(counter.paints)
    frames, cpu, start = window.live_plot.frames, time.process_time(), time.monotonic()
    wait(app, seconds)
    spent = time.monotonic() - start
    frames = window.live_plot.frames - frames
    cpu = time.process_time() - cpu
    paints = {name: (count - before[name]) / spent for name, count in counter.paints.items()}
    return {"fps": frames / spent, "core": cpu / spent,
            "ms_per_frame": 1e3 * cpu / frames if frames else float("nan"), "paints": paints}


def report(what: str, figures: dict) -> None:
    paints = ", ".join(f"{name} {rate:.0f}" for name, rate in figures["paints"].items())
    print(f"{what}: {figures['fps']:.1f} frames/s, {figures['ms_per_frame']:.2f} ms of processor "
          f"time per frame, {1e3 * figures['core']:.1f} ms per second, {figures['core']:.4f} of a core")
    print(f"  paints per second: {paints}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=MEASURE,
                        help=f"how long each part is measured (default {MEASURE:.0f})")
    seconds = parser.parse_args(argv).seconds
    from tarvinel.stelvane.app import create_app

    app = QtWidgets.QApplication.instance() or QtWidgets.QApplication([])
    window = create_app(["--fresh"]).window
    counter = PaintCounter(watched_widgets(window))
    print(f"{qt_compat.API}, the demo's defaults, {os.cpu_count()} cores; {seconds:.0f} s "
          f"after {WARMUP:.0f} s warm-up", flush=True)
    wait(app, WARMUP)
    live = measure(app, window, counter, seconds)
    report("demo rate", live)
    window.producer.stop()
    wait(app, WARMUP)
    report("nothing new", measure(app, window, counter, seconds))
    verdict = "met" if live["core"] <= TARGET_CORE else "NOT met"
    print(f"target <= {TARGET_CORE} of a core at the demo's rate: {verdict}")
    window.close()


if __name__ == "__main__":
    main()

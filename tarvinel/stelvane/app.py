"""The demo application: a simulated instrument in its own process streams
commands through a multiprocessing queue into the live-plotting window.

    python -m tarvinel.stelvane [--rate ROWS_PER_S] [--columns N] [--run-length ROWS] ...

Without a display (STELVANE_SCREENSHOT / STELVANE_RUN_SECONDS, as `make demo`
sets them under Xvfb) it runs a few seconds, saves a screenshot and exits.
"""

import argparse
from dataclasses import dataclass
import multiprocessing
import os
import signal
import sys
import time

from . import qt_compat  # chooses the Qt binding before pyqtgraph is loaded
from .mainwindow import MainWindow
from .producer import ProducerOptions, ProducerProcess

QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets

# Queue items the producer may be ahead of the window; beyond that it waits,
# so a window that cannot keep up slows the producer instead of filling memory.
QUEUE_ITEMS = 2000


def _positive(kind):
    def parse(text):
        value = kind(text)
        if value <= 0:
            raise argparse.ArgumentTypeError(f"must be greater than 0, not {text}")
        return value
    return parse


def _not_negative(kind):
    def parse(text):
        value = kind(text)
        if value < 0:
            raise argparse.ArgumentTypeError(f"must not be negative, not {text}")
        return value
    return parse


def parse_args(argv=None) -> argparse.Namespace:
    defaults = ProducerOptions()
    parser = argparse.ArgumentParser(
        prog="python -m tarvinel.stelvane",
        description="Live plots of a simulated instrument's points and traces.")
    producer = parser.add_argument_group("producer (the simulated instrument)")
    producer.add_argument("--rate", type=_positive(float), default=defaults.rate,
                          help="point rows per second (default %(default)s)")
    producer.add_argument("--columns", type=_positive(int), default=defaults.columns,
                          help="point columns, time included (default %(default)s)")
    producer.add_argument("--run-length", type=_not_negative(int), default=defaults.run_length,
                          help="point rows per run before a ROLL; 0: never roll (default %(default)s)")
    producer.add_argument("--trace-rate", type=_not_negative(float), default=defaults.trace_rate,
                          help="whole traces per second; 0: none (default %(default)s)")
    producer.add_argument("--trace-points", type=_positive(int), default=defaults.trace_points,
                          help="rows per trace (default %(default)s)")
    producer.add_argument("--pattern", default=defaults.point_pattern,
                          help="X;Y pattern for points (default %(default)r)")
    producer.add_argument("--trace-pattern", default=defaults.trace_pattern,
                          help="X;Y pattern for traces (default %(default)r)")
    window = parser.add_argument_group("window")
    window.add_argument("--live-rows", type=_positive(int), default=20_000,
                        help="newest rows of the current run in the live plot (default %(default)s)")
    window.add_argument("--max-rows", type=_positive(int), default=1_000_000,
                        help="rows a run keeps in memory (default %(default)s)")
    window.add_argument("--history", type=_not_negative(int), default=10,
                        help="finished runs kept (default %(default)s)")
    window.add_argument("--seconds", type=_not_negative(float),
                        default=float(os.environ.get("STELVANE_RUN_SECONDS") or 0),
                        help="close after this long; 0: stay open (default: $STELVANE_RUN_SECONDS or 0)")
    window.add_argument("--screenshot", default=os.environ.get("STELVANE_SCREENSHOT") or None,
                        help="save the window as this PNG when --seconds ends "
                             "(default: $STELVANE_SCREENSHOT)")
    return parser.parse_args(argv)


def producer_options(args: argparse.Namespace) -> ProducerOptions:
    return ProducerOptions(
        rate=args.rate, columns=args.columns, run_length=args.run_length,
        trace_rate=args.trace_rate, trace_points=args.trace_points,
        point_pattern=args.pattern, trace_pattern=args.trace_pattern)


@dataclass
class Application:
    """A running application: what create_app made, for whoever runs it."""
    args: argparse.Namespace
    qt_app: QtWidgets.QApplication  # one made here lives as long as this record
    window: MainWindow
    producer: ProducerProcess
    queue: object  # the producer's command queue; the window closes it


def create_app(argv=None) -> Application:
    """Parses `argv`, makes the QApplication if there is none yet, starts the
    producer process and shows the window; the caller runs the event loop and
    closes the window (which stops the producer and closes the queue)."""
    args = parse_args(argv)
    qt_app = QtWidgets.QApplication.instance() or QtWidgets.QApplication(sys.argv[:1])
    context = multiprocessing.get_context("spawn")
    queue = context.Queue(QUEUE_ITEMS)
    epoch = time.monotonic()
    producer = ProducerProcess(context, queue, producer_options(args), epoch)
    window = MainWindow(queue, producer=producer, epoch=epoch, live_rows=args.live_rows,
                        max_rows=args.max_rows, max_history=args.history)
    window.show()
    producer.start()
    window.start()
    return Application(args, qt_app, window, producer, queue)


def save_screenshot(window: MainWindow, path: str) -> None:
    directory = os.path.dirname(path)
    if directory:
        os.makedirs(directory, exist_ok=True)
    if not window.grab().save(path):
        raise OSError(f"could not write the screenshot {path}")


def main(argv=None) -> int:
    application = create_app(argv)
    window, args = application.window, application.args
    failures = []

    def finish():
        try:
            if args.screenshot:
                save_screenshot(window, args.screenshot)
                print(f"screenshot: {args.screenshot}")
        except Exception as error:
            failures.append(error)
            print(f"screenshot failed: {error}", file=sys.stderr)
        window.close()

    if args.seconds:
        QtCore.QTimer.singleShot(round(args.seconds * 1000), finish)
    # Ctrl+C in the terminal closes the window like the close button does;
    # the frame timer gives Python the chance to run the handler.
    signal.signal(signal.SIGINT, lambda *_: window.close())
    qt_app = application.qt_app
    exec_ = getattr(qt_app, "exec", None) or qt_app.exec_
    code = exec_()
    window.shutdown()
    return 1 if failures else code

"""The application: a producer process streams commands through a
multiprocessing queue into the live-plotting window.

    stelvane [SOURCE] [--pattern X,Y] [--seconds S] [--summary] ...

SOURCE picks the source the producer runs (see sources/): none for the simulated
instrument, "-" for text rows from standard input, a file to follow,
tcp://HOST:PORT, serial:DEVICE[@BAUD], or a producer script ending in .py.
`show(produce)` opens the window for a produce(feed) function of the caller's.

Without a display (STELVANE_SCREENSHOT / STELVANE_RUN_SECONDS, as `make demo`
sets them under Xvfb) it runs a few seconds, saves a screenshot and exits.
"""

import argparse
import ctypes
from dataclasses import dataclass
import json
import multiprocessing
from multiprocessing.connection import Connection
import os
import pickle
import signal
import sys
import time

from . import qt_compat  # chooses the Qt binding before pyqtgraph is loaded
from .formats.atomic import ExportError
from .formats.recordings.cache import cache_root
from .model.modes import MODES
from .model.spill import SpillRoom
from .model.replay import DEFAULT_RATE
from .options import make_parser, parse_args, read_options, transport_options
from .sources import (FileSource, FunctionSource, SourceError, check_source_text,
                      source_from_text)
from .sources.filecache import LargeFiles
from .sources.instrument import InstrumentSource, ProducerOptions
from .sources.producer import ProducerProcess
from .widgets import plotimage
from .window import export, settings
from .window.mainwindow import MainWindow
from .window.videoexport import VideoRecording, show_instant, when_read_whole

QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets

# Signals that end the application as closing its window does: those of
# these names the system has (Windows has no SIGHUP).
SHUTDOWN_SIGNAL_NAMES = ("SIGINT", "SIGTERM", "SIGHUP")


def shutdown_signals(system=signal) -> tuple:
    return tuple(getattr(system, name) for name in SHUTDOWN_SIGNAL_NAMES if hasattr(system, name))


SHUTDOWN_SIGNALS = shutdown_signals()

# Queue items the producer may be ahead of the window; beyond that it waits,
# so a window that cannot keep up slows the producer instead of filling memory.
QUEUE_ITEMS = 2000

# glibc's M_MMAP_THRESHOLD, and the size from which a block gets its own mapping.
_M_MMAP_THRESHOLD = -3
OWN_MAPPING_BYTES = 128 * 1024


def return_large_blocks_when_freed() -> bool:
    """Makes glibc give every block of OWN_MAPPING_BYTES or more its own
    mapping, returned to the system when the block is freed.

    By default glibc raises that size to the largest block freed so far, and
    then serves the queue's item buffers from its heap, between the long-lived
    arrays of the data set and the history. Space freed between those is never
    returned, and the window's resident memory grows for as long as data flows
    (by most of its size again over ten minutes at 400,000 points/s). A fixed
    size keeps it flat. Elsewhere than glibc this does nothing (False)."""
    if not sys.platform.startswith("linux"):  # no C library to load by None elsewhere
        return False
    try:
        mallopt = ctypes.CDLL(None).mallopt
    except (OSError, AttributeError):
        return False
    mallopt.argtypes, mallopt.restype = (ctypes.c_int, ctypes.c_int), ctypes.c_int
    return mallopt(_M_MMAP_THRESHOLD, OWN_MAPPING_BYTES) == 1


def make_source(args: argparse.Namespace, produce=None):
    """The source the arguments (or `produce`) name, None for the simulated
    instrument (made by make_producer, once its patterns are known); raises
    SourceError for a SOURCE that names nothing usable."""
    if produce is not None:
        return FunctionSource(produce)
    if args.source is None:
        return None
    # A spawned process has no standard input of its own: for "-" a
    # duplicate of ours goes to it, and ours is left alone.
    stdin = Connection(os.dup(0), writable=False) if args.source == "-" else None
    follow = not args.no_follow and args.replay is None  # a replay reads the file whole
    check_source_text(args.source)
    large = LargeFiles(max_rows=args.max_rows, cache_cap=int(args.cache_size * (1 << 30)))
    return source_from_text(args.source, follow=follow, stdin=stdin, reading=read_options(args),
                            large=large, **transport_options(args))


def check_replayed(parser: argparse.ArgumentParser, source) -> None:
    """--replay plays a file that is there; anything else is refused."""
    if not isinstance(source, FileSource):
        parser.error(f"--replay plays a recorded file, not {source.describe}")
    if not os.path.exists(source.path):
        parser.error(f"--replay: {source.path}: no such file")
    if not os.path.isfile(source.path):
        parser.error(f"--replay: {source.path} is no regular file (a replay reads it whole)")


def settings_source(source) -> str:
    """The name the source's remembered patterns go by (None: the simulated
    instrument's): its settings_key, a file's full path wherever it was named
    from."""
    return (InstrumentSource if source is None else source).settings_key


def read_settings(args: argparse.Namespace, store, source: str
                  ) -> tuple[settings.Remembered, list[str]]:
    """The remembered settings (none with --fresh) and the warnings about them."""
    warnings = []
    if args.fresh:
        return settings.Remembered(), warnings
    try:
        return settings.read(store, warnings.append, source), warnings
    except Exception as error:  # whatever the file holds, the window starts
        warnings.append(f"settings file {store.fileName()} ignored: {error}")
        return settings.Remembered(), warnings


def with_remembered_patterns(args: argparse.Namespace, remembered: settings.Remembered) -> None:
    """A pattern not given on the command line is the remembered one, if any:
    the producer announces it as if it had been given."""
    for mode in MODES:
        if getattr(args, mode.pattern_option) is None:
            setattr(args, mode.pattern_option, remembered.modes.get(mode.key, {}).get("pattern"))


def chosen_expressions(args: argparse.Namespace, remembered: settings.Remembered) -> list:
    """The derived series: --expr's (an empty --expr: none), else the
    source's remembered ones."""
    if args.expr is not None:
        return args.expr
    return remembered.expressions or []


def producer_options(args: argparse.Namespace) -> ProducerOptions:
    defaults = ProducerOptions()
    return ProducerOptions(
        rate=args.rate, columns=args.columns, run_length=args.run_length,
        trace_rate=args.trace_rate, trace_points=args.trace_points,
        point_pattern=defaults.point_pattern if args.pattern is None else args.pattern,
        trace_pattern=defaults.trace_pattern if args.trace_pattern is None else args.trace_pattern)


def make_producer(context, queue, args, epoch: float, source=None) -> ProducerProcess:
    """The producer process for `source` (see make_source; None: the
    simulated instrument with the arguments' options)."""
    if source is None:
        # The instrument sends its own patterns, the options' among them.
        return ProducerProcess(context, queue, producer_options(args), epoch)
    return ProducerProcess(context, queue, source=source, pattern=args.pattern,
                           trace_pattern=args.trace_pattern)


@dataclass
class Application:
    """A running application: what create_app made, for whoever runs it."""
    args: argparse.Namespace
    qt_app: QtWidgets.QApplication  # one made here lives as long as this record
    window: MainWindow
    producer: ProducerProcess
    queue: object  # the producer's command queue; the window closes it


def checked_source(parser, args: argparse.Namespace, produce):
    """The source the command line names; a mistake exits through the parser."""
    try:
        source = make_source(args, produce)
    except (SourceError, OSError) as error:
        parser.error(str(error))
    if args.replay is not None:
        check_replayed(parser, source)
    return source


def qt_application(args: argparse.Namespace):
    """The QApplication (made if there is none): off screen for a video."""
    qt_argv = sys.argv[:1]
    if args.export_video and not os.environ.get("QT_QPA_PLATFORM"):
        qt_argv += ["-platform", "offscreen"]  # rendered headless: no window on the screen
    return QtWidgets.QApplication.instance() or QtWidgets.QApplication(qt_argv)


def spill_room(args) -> SpillRoom | None:
    """Where live runs beyond --max-rows go (none with --disk-cap 0)."""
    if not args.disk_cap:
        return None
    return SpillRoom(os.path.join(cache_root(), "spill"), int(args.disk_cap * 1e9))


def create_app(argv=None, produce=None) -> Application:
    """Parses `argv`, makes the QApplication if there is none yet, starts the
    producer process (running `produce(feed)` when given) and shows the
    window; the caller runs the event loop and closes the window (which stops
    the producer and closes the queue)."""
    parser = make_parser()
    args = parse_args(argv, parser)
    return_large_blocks_when_freed()
    source = checked_source(parser, args, produce)
    store = settings.open_store()
    key = settings_source(source)
    remembered, warnings = read_settings(args, store, key)
    given = {mode.key: getattr(args, mode.pattern_option) for mode in MODES
             if getattr(args, mode.pattern_option) is not None}
    with_remembered_patterns(args, remembered)
    context = multiprocessing.get_context("spawn")
    queue = context.Queue(QUEUE_ITEMS)
    epoch = time.monotonic()
    producer = make_producer(context, queue, args, epoch, source)
    qt_app = qt_application(args)
    window = MainWindow(queue, producer=producer, epoch=epoch, live_rows=args.live_rows,
                        max_rows=args.max_rows, max_history=args.history, window=args.window,
                        expressions=chosen_expressions(args, remembered), limits=args.limit,
                        replay_speed=args.replay, replay_rate=args.replay_rate or DEFAULT_RATE,
                        split=args.split, spill_room=spill_room(args))
    for warning in warnings:
        print(warning, file=sys.stderr)
        window.report(warning)
    window.settings.restore(store, remembered, given_patterns=given, source=key,
                            window_given=args.window is not None)
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


def scripted_exports(window: MainWindow, args: argparse.Namespace) -> list[str]:
    """Writes what --export-png and --export-csv ask for; returns the failures
    (each also on stderr and in the window's problem log)."""
    failures = []
    jobs = [(args.export_png, lambda path: plotimage.save_plot(window.live_plot, path), "plot"),
            (args.export_csv, lambda path: export.save_current_run(window.current_dataset(), path),
             "data")]
    for path, save, what in jobs:
        if not path:
            continue
        try:
            save(path)
        except ExportError as error:
            failures.append(str(error))
            print(f"export failed: {error}", file=sys.stderr)
            window.report(str(error))
        else:
            print(f"{what}: {path}")
    return failures


def finish_at(window: MainWindow, args: argparse.Namespace, failure, failures: list) -> None:
    """--at: the replay stands at the instant; what was asked is saved."""
    if failure:
        print(failure, file=sys.stderr)
        failures.append(failure)
    else:
        failures.extend(scripted_exports(window, args))
    window.close()


def finish_seconds(window: MainWindow, args: argparse.Namespace, failures: list) -> None:
    """--seconds ended: the screenshot and the exports asked for, then close."""
    try:
        if args.screenshot:
            save_screenshot(window, args.screenshot)
            print(f"screenshot: {args.screenshot}")
    except Exception as error:
        failures.append(error)
        print(f"screenshot failed: {error}", file=sys.stderr)
    failures.extend(scripted_exports(window, args))
    window.close()


def close_on_signals(window: MainWindow) -> list:
    """Ctrl+C in the terminal, `kill` and a closed terminal close the window
    as the close button does: the producer is stopped and the queue and its
    semaphores are released before the process ends. The frame timer gives
    Python the chance to run the handler. Returns the signals received."""
    received = []

    def close_on_signal(signum, frame):
        received.append(signum)
        window.close()

    for signum in SHUTDOWN_SIGNALS:
        signal.signal(signum, close_on_signal)
    return received


def scheduled_ends(window: MainWindow, args: argparse.Namespace, qt_app, failures: list) -> None:
    """Sets up the ends the command line asks for (--seconds, --until-end,
    --at); the first one ends the run, and any after it (or after the
    window shut down otherwise) does nothing."""
    def end(close_window) -> None:
        """Closes the window as `close_window` does and leaves the event loop
        (see run_until_closed)."""
        if not window.shut_down:
            close_window()
            qt_app.quit()

    def finish(*_):  # the first of --seconds and --until-end
        end(lambda: finish_seconds(window, args, failures))

    if args.seconds:
        QtCore.QTimer.singleShot(round(args.seconds * 1000), finish)
    if args.until_end:  # the rows read last are drawn before the window closes
        when_read_whole(window, lambda failure: (window.tick(), finish()))
    if args.at is not None:
        show_instant(window, args.at,
                     lambda failure: end(lambda: finish_at(window, args, failure, failures)))


def run_until_closed(qt_app) -> int:
    """The event loop, left as soon as the last window closes. Closing it
    only posts Qt's quit, and Qt takes a posted quit back when any window is
    shown before it is handled (and posts none while another is open): the
    loop would then run on with no window and no timer, for good."""
    def last_window_closed():  # the user's close, or a signal's: quit now
        qt_app.quit()
    qt_app.lastWindowClosed.connect(last_window_closed)
    try:
        return qt_app.exec()
    finally:
        qt_app.lastWindowClosed.disconnect(last_window_closed)
        # The quit Qt posted as well: handled by a later event loop of this
        # process, it would end that one.
        QtCore.QCoreApplication.removePostedEvents(qt_app, qt_compat.QUIT_EVENT)


def main(argv=None, produce=None) -> int:
    application = create_app(argv, produce)
    window, args = application.window, application.args
    failures = []
    scheduled_ends(window, args, application.qt_app, failures)
    recording = (VideoRecording(window, args.export_video, args.video_fps, args.video_size)
                 if args.export_video else None)
    received = close_on_signals(window)
    code = run_until_closed(application.qt_app)
    window.shutdown()
    if recording is not None:
        failures += recording.report()
    if args.summary:
        print(json.dumps(window.summary()), flush=True)
    if received:
        # What a shell reports for a process ended by that signal.
        return 128 + received[0]
    return 1 if failures else (window.exit_status or code)


def console_main() -> None:
    """The `stelvane` command."""
    sys.exit(main())


def show(produce, **options) -> int:
    """Opens the window with `produce(feed)` running in its own process, and
    returns when the window closes (with the exit code `main` gives).

    `options` are the command's, by their long names: show(produce,
    pattern="t,v", seconds=10, summary=True). `produce` must be importable in
    the new process: a function at the top level of a module, and in a
    script that calls show() the call under `if __name__ == "__main__":`."""
    try:
        pickle.dumps(produce)
    except Exception as error:
        raise TypeError(f"show() runs produce in a new process, which finds it by its name: "
                        f"define it at the top level of a module ({error})") from None
    argv = []
    for name, value in options.items():
        flag = "--" + name.replace("_", "-")
        if value is True:
            argv.append(flag)
        elif value is not False and value is not None:
            argv += [flag, str(value)]
    return main(argv, produce)

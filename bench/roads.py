"""What the benchmarks of the live window share: the window measured while
rows come in, and a sender process (bench/rowsender.py) offering rows of text
at a rate over a road.

A running window is measured after its first rows and a warm-up, over
MEASURE seconds:
- points (rows) per second stored by the window;
- frames per second that showed new data (paints of the live plot);
- latency of every row from its sample time (the "time" column, on the
  machine-wide monotonic clock, as seconds after `window.epoch`) to the end
  of the paint of the first frame that showed it: median and 95th percentile.
A window sustains a rate when it stores at least 98% of it, paints at least
30 new frames per second and keeps the 95th percentile under 100 ms.

Importing this module keeps the benchmarks' remembered settings apart from
the user's and, without a display, paints offscreen.
"""
import functools
import math
import os
import pathlib
import subprocess
import sys
import tempfile
import time

BENCH = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH.parent))

if not os.environ.get("DISPLAY") and not os.environ.get("QT_QPA_PLATFORM"):
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

import numpy as np  # noqa: E402

from tarvinel.stelvane import config, qt_compat  # noqa: E402  (binding before pyqtgraph)
from tarvinel.stelvane.window import settings  # noqa: E402  (binding before pyqtgraph)
from tarvinel.stelvane.sources.instrument import PointSource, ProducerOptions, point_names  # noqa: E402

# The benchmarks' windows remember their settings in a folder of their own,
# gone at exit: a benchmark's pattern for standard input must not become the
# one the user's next `stelvane -` starts with.
_SETTINGS_HOME = tempfile.TemporaryDirectory(prefix="stelvane-bench-settings-")
qt_compat.QtCore.QSettings.setPath(settings.INI, settings.USER_SCOPE, _SETTINGS_HOME.name)

COLUMNS = 1 + len(config.ridx)   # "time" and one column per curve
PATTERN = "time,[^t].*"          # time against every other column
WARMUP = 1.5
MEASURE = 4.0
TARGET_FPS, TARGET_P95 = 30.0, 0.100
PAINT_EVENT = getattr(getattr(qt_compat.QtCore.QEvent, "Type", qt_compat.QtCore.QEvent), "Paint")
SENDER = BENCH / "rowsender.py"
# Rows of the instrument's signals a sender cycles through: over three live
# views' worth (the window shows the last 20,000 rows).
POOL = 1 << 16
LOAD_NOTE = "(other work on the machine slows every road)"


def application():
    return qt_compat.QtWidgets.QApplication.instance() or qt_compat.QtWidgets.QApplication([])


def wait(app, done, seconds):
    """Runs the events until done() or `seconds` passed; says done()."""
    end = time.monotonic() + seconds
    while not done() and time.monotonic() < end:
        app.processEvents(qt_compat.QtCore.QEventLoop.ProcessEventsFlag.AllEvents, 5)
        time.sleep(0.0005)
    return done()


class Probe:
    """Latency of each row at the first painted frame that showed it."""

    def __init__(self, window):
        self.window = window
        self.recording = False
        self.latencies = []
        self.frames = 0
        self.shown_up_to = -math.inf  # newest sample time already painted
        self.run = None
        window.live_plot.on_painted = self.painted

    def painted(self):
        now = time.monotonic()
        points = self.window.point_dataset
        if "time" not in points.column_names:
            return
        times = [points.column("time")]
        if self.run is not None and points.run_number != self.run and points.history:
            times.insert(0, points.history[-1].column("time"))  # rolled since the last frame
        self.run = points.run_number
        fresh = [t[np.searchsorted(t, self.shown_up_to, side="right"):] for t in times]
        fresh = np.concatenate(fresh)
        if not len(fresh):
            return
        self.shown_up_to = fresh[-1]
        if self.recording:
            self.frames += 1
            self.latencies.append(now - (self.window.epoch + fresh))


def measure(app, window, meter=None):
    """The figures of a running window, which it closes. `meter`, if given,
    is called as recording starts and returns a function of the rows stored
    that gives more figures."""
    probe = Probe(window)
    wait(app, lambda: len(window.point_dataset) > 0, 30)
    wait(app, lambda: False, WARMUP)
    shown = sum(1 for c in window.live_plot.plots.values() if c.xData is not None and len(c.xData))
    more = meter() if meter is not None else (lambda stored: {})
    probe.recording = True
    stored_before, start = window.point_dataset.rows_stored, time.monotonic()
    wait(app, lambda: False, MEASURE)
    stored, spent = window.point_dataset.rows_stored - stored_before, time.monotonic() - start
    probe.recording = False
    figures = more(stored)
    window.close()
    latencies = np.concatenate(probe.latencies) if probe.latencies else np.array([math.nan])
    return {
        "stored": stored / spent,
        "fps": probe.frames / spent,
        "median": float(np.median(latencies)),
        "p95": float(np.percentile(latencies, 95)),
        "curves": shown,
        "problems": window.problems.count,
        **figures,
    }


def sustained(result):
    return (result["stored"] >= 0.98 * result["rate"] and result["fps"] >= TARGET_FPS
            and result["p95"] < TARGET_P95)


def cpu_seconds(pid: int | None = None) -> float:
    """User and system CPU time of a process (this one by default), all threads."""
    if pid is None:
        times = os.times()
        return times.user + times.system
    try:
        fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except FileNotFoundError:
        return math.nan
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure_cpu(app, window, others, rate):
    """measure()'s figures at the offered `rate`, and the CPU seconds per
    million rows stored of the window, its producer and `others` (name: pid)."""
    pids = {"window": None, "producer": window.producer.process.pid, **others}

    def cpu_meter():
        before = {name: cpu_seconds(pid) for name, pid in pids.items()}
        return lambda stored: {"cpu": {name: (cpu_seconds(pid) - before[name]) / max(stored, 1)
                                       * 1e6 for name, pid in pids.items()}}

    return dict(measure(app, window, cpu_meter), rate=rate)


def cpu_text(result) -> str:
    return " ".join(f"{who} {seconds:.2f}" for who, seconds in result["cpu"].items())


def rates(text: str) -> tuple[int, ...]:
    """An argument of rows per second, comma separated (empty: none)."""
    return tuple(int(r) for r in text.split(",") if r)


def instrument_window(rate: int, *more: str):
    """The demo's window on the simulated instrument at `rate`, all curves
    shown, a roll every two seconds."""
    from tarvinel.stelvane.app import create_app

    return create_app(["--rate", str(rate), "--columns", str(COLUMNS), "--pattern", PATTERN,
                       "--run-length", str(2 * rate), *more]).window


@functools.lru_cache(maxsize=None)
def instrument_tails(rate: int) -> bytes:
    """The text after the time column of POOL rows of the simulated
    instrument's signals at `rate`, fixed width: the text roads draw the same
    curves as the binary road (random values in every column would make every
    curve a dense zigzag, several times dearer to paint)."""
    source = PointSource(ProducerOptions(columns=COLUMNS, run_length=2 * rate), np.random.default_rng(1))
    values = np.clip(source.rows(np.arange(POOL) / rate, 0)[:, 1:], -9.99999, 9.99999)
    return "".join("," + ",".join(f"{v: .5f}" for v in row) + "\n" for row in values).encode()


def start_sender(rate: int, epoch: float, sink: list[str], *options: str,
                 names=None, stdout=None, stderr=None) -> subprocess.Popen:
    """bench/rowsender.py offering `rate` rows a second of the instrument's
    signals over `sink`, a roll every two seconds."""
    names = point_names(COLUMNS) if names is None else names
    sender = subprocess.Popen(
        [sys.executable, str(SENDER), str(rate), "2", ",".join(names), repr(epoch), *sink,
         *options], stdin=subprocess.PIPE, stdout=stdout, stderr=stderr)
    sender.stdin.write(instrument_tails(rate))  # its rows, read before it writes any
    sender.stdin.close()
    return sender


def window_on(argv: list[str], stdin_fd: int | None = None):
    """The window of `create_app(argv)`, with `stdin_fd` as its standard input."""
    from tarvinel.stelvane.app import create_app

    if stdin_fd is None:
        return create_app(argv).window
    saved = os.dup(0)
    os.dup2(stdin_fd, 0)
    try:
        return create_app(argv).window
    finally:
        os.dup2(saved, 0)  # the producer has its own copy now
        os.close(saved)


def piped_window(rate: int, argv: list[str], *options: str, names=None, epoch=None):
    """A window reading a sender's rows from its standard input, as
    `python my_instrument.py | stelvane -` would: (window, sender)."""
    read_end, write_end = os.pipe()
    epoch = time.monotonic() if epoch is None else epoch
    sender = start_sender(rate, epoch, ["stdout"], *options, names=names, stdout=write_end)
    os.close(write_end)
    try:
        window = window_on(argv, read_end)
    finally:
        os.close(read_end)
    window.epoch = epoch  # the sender's times count from here
    return window, sender


def measure_fed(app, window, rate, sender, name="sender", others=None):
    """measure_cpu() of a window fed by the process `sender` (its CPU under
    `name`, beside `others`), which it then ends."""
    try:
        return measure_cpu(app, window, {name: sender.pid, **(others or {})}, rate)
    finally:
        sender.kill()
        sender.wait()

"""The simulated instrument: a process that writes commands into the queue.

It announces point columns and a pattern ("PN", "PXY") and trace columns and a
pattern ("TN", "TXY"), then streams point rows at a steady rate ("PD": a single
row as a list when one row is due, otherwise a block as a 2-D array), ends a
run with "ROLL" every `run_length` rows, and sends whole traces ("TD", complex
2-D arrays: a frequency column and four complex responses).

The first point column, "time", is the time the row was sampled, in seconds
since `epoch` on the monotonic clock the whole machine shares; the window uses
it to measure how long a row took to reach the screen.

This module imports no Qt: it is what the producer process runs.
"""

import contextlib
from dataclasses import dataclass
import math
import os
import queue as queue_module
import signal
import time

import numpy as np

POINT_NAMES = ("time", "sweep", "sine", "cosine", "sinc", "noise", "drift", "square")
TRACE_NAMES = ("freq", "S11", "S21", "S12", "S22")


@dataclass
class ProducerOptions:
    rate: float = 2000.0          # point rows per second
    columns: int = 6              # point columns, "time" included
    run_length: int = 8_000       # point rows per run; 0: never roll
    trace_rate: float = 4.0       # traces per second; 0: no traces
    trace_points: int = 401       # rows per trace
    block_interval: float = 0.01  # seconds between point blocks
    seconds: float = 0.0          # stop after this long; 0: until stopped
    point_pattern: str = "time,(sine|cosine|sinc)"
    trace_pattern: str = "freq,S21"
    seed: int = 1


def point_names(columns: int) -> list[str]:
    """`columns` names: the named signals first, then ch8, ch9, ..."""
    names = list(POINT_NAMES[:columns])
    names += [f"ch{i}" for i in range(len(names), columns)]
    return names


class PointSource:
    """Rows of the point columns for given sample times."""

    def __init__(self, options: ProducerOptions, rng: np.random.Generator):
        self.columns = max(1, options.columns)
        self.run_length = options.run_length
        self.rng = rng
        self.walk = 0.0

    def rows(self, times: np.ndarray, first_index: int) -> np.ndarray:
        n = len(times)
        block = np.empty((n, self.columns))
        block[:, 0] = times
        index = first_index + np.arange(n)
        run_length = self.run_length or 10_000
        sweep = (index % run_length) / run_length
        phase = 2 * math.pi * 0.5 * times
        noise = self.rng.standard_normal(n)
        steps = np.cumsum(0.01 * noise) + self.walk
        if n:
            self.walk = float(steps[-1])
        signals = [
            sweep,
            np.sin(phase),
            np.cos(phase),
            np.sinc(8 * (sweep - 0.5)),
            0.1 * noise,
            steps,
            np.sign(np.sin(phase / 3)),
        ]
        for j in range(1, self.columns):
            if j - 1 < len(signals):
                block[:, j] = signals[j - 1]
            else:
                block[:, j] = np.sin(phase * (1 + 0.1 * j)) + 0.05 * noise
        return block


class TraceSource:
    """Whole traces of a resonator whose centre drifts: complex responses."""

    def __init__(self, options: ProducerOptions, rng: np.random.Generator):
        self.freq = np.linspace(1.0e9, 2.0e9, max(2, options.trace_points))
        self.rng = rng
        self.count = 0

    def trace(self) -> np.ndarray:
        f0 = 1.5e9 + 0.1e9 * math.sin(self.count * 0.15)
        self.count += 1
        detune = 2j * 40 * (self.freq / f0 - 1)
        s21 = 1 / (1 + detune)
        s11 = detune / (1 + detune)
        delay = np.exp(-2j * math.pi * self.freq * 2e-9)
        noise = 0.01 * (self.rng.standard_normal(len(self.freq))
                        + 1j * self.rng.standard_normal(len(self.freq)))
        return np.column_stack([
            self.freq.astype(np.complex128), s11 + noise, s21 * delay + noise,
            s21 * delay + noise[::-1], s11 * 0.8 + noise,
        ])


def put_until_stopped(queue, stop, item) -> bool:
    """Puts `item`, waiting for room as long as `stop` (the reading end of a
    pipe) is not readable; False once it is, with the item not put."""
    while not stop.poll():
        try:
            queue.put(item, timeout=0.1)
            return True
        except queue_module.Full:
            continue
    return False


def produce(queue, stop, options: ProducerOptions, epoch: float) -> None:
    """Body of the producer process: writes commands until `stop` (the
    reading end of a pipe) becomes readable or `options.seconds` have passed."""
    # Whatever the window has not read when it closes is thrown away; without
    # this the process would wait at exit for the queue's pipe to drain.
    queue.cancel_join_thread()
    rng = np.random.default_rng(options.seed)
    points = PointSource(options, rng)
    traces = TraceSource(options, rng)

    def put(item) -> bool:
        return put_until_stopped(queue, stop, item)

    put(("PN", point_names(points.columns)))
    put(("PXY", options.point_pattern))
    if options.trace_rate > 0:
        put(("TN", list(TRACE_NAMES)))
        put(("TXY", options.trace_pattern))

    start = time.monotonic()
    sent = 0
    in_run = 0
    next_trace = start
    while not stop.poll():
        now = time.monotonic()
        if options.seconds and now - start >= options.seconds:
            break
        due = int((now - start) * options.rate) - sent
        if options.run_length:
            due = min(due, options.run_length - in_run)
        if due > 0:
            times = start - epoch + (sent + np.arange(due)) / options.rate
            block = points.rows(times, sent)
            payload = block[0].tolist() if due == 1 else block
            if not put(("PD", payload)):
                break
            sent += due
            in_run += due
            if options.run_length and in_run >= options.run_length:
                put(("ROLL", None))
                in_run = 0
        if options.trace_rate > 0 and now >= next_trace:
            put(("TD", traces.trace()))
            next_trace += 1 / options.trace_rate
            if next_trace < now:  # fell behind: do not send a burst
                next_trace = now + 1 / options.trace_rate
        wake = min(now + options.block_interval,
                   next_trace if options.trace_rate > 0 else math.inf)
        stop.poll(max(0.0, wake - time.monotonic()))


def run(queue, stop, status, source, pattern, trace_pattern) -> None:
    """Body of the producer process for any source (see sources.py)."""
    import signal

    from .sources import run_source

    # Ctrl+C in a terminal reaches every process of the job: the window
    # handles it, and stops this one through the stop pipe.
    signal.signal(signal.SIGINT, signal.SIG_IGN)

    run_source(source, queue, stop, status, pattern, trace_pattern)


class ProducerProcess:
    """The producer process and its stop signal, for the window that reads
    the queue. The process is started with "spawn": a fresh interpreter, not a
    copy of one that runs Qt threads.

    It runs `source` (see sources.py), by default the simulated instrument
    with `options`. `pattern` and `trace_pattern`, when given, are sent before
    anything of the source's. Beside the queue, the producer writes status
    messages into a pipe whose reading end is `status` (see sources.py).

    The stop signal is a pipe that the window closes: the producer sees the
    end of the pipe. (A multiprocessing Event would do the same until the
    producer dies while waiting on it: its set() then waits forever for the
    dead waiter.)"""

    def __init__(self, context, queue, options: ProducerOptions | None = None,
                 epoch: float = 0.0, *, source=None, pattern: str | None = None,
                 trace_pattern: str | None = None):
        if source is None:
            from .sources import InstrumentSource

            source = InstrumentSource(options or ProducerOptions(), epoch)
        self.source = source
        self._stop_reader, self._stop_writer = context.Pipe(duplex=False)
        self.status, self._status_writer = context.Pipe(duplex=False)
        self.process = context.Process(
            target=run, args=(queue, self._stop_reader, self._status_writer, source,
                              pattern, trace_pattern),
            name="stelvane-producer", daemon=True)

    def start(self) -> None:
        try:
            self.process.start()
        finally:
            # The producer has its own copies; a descriptor handed to it (the
            # standard input) is its alone from now on.
            self._stop_reader.close()
            self._status_writer.close()
            stdin = getattr(self.source, "stdin", None)
            if stdin is not None:
                stdin.close()

    def is_alive(self) -> bool:
        return self.process.is_alive()

    def messages(self) -> list:
        """The status messages that have arrived (see sources.py)."""
        received = []
        try:
            while not self.status.closed and self.status.poll():
                received.append(self.status.recv())
        except (EOFError, OSError):  # the producer has ended
            self.status.close()
        return received

    def stop(self, timeout: float = 3.0) -> int | None:
        """Asks the process to end, waits up to `timeout`, then terminates it;
        returns its exit code."""
        self._stop_writer.close()
        # A producer blocked writing a status message gets an error at once.
        self.status.close()
        if self.process.pid is None:  # never started
            self._stop_reader.close()
            self._status_writer.close()
            return None
        self.process.join(timeout)
        if self.process.is_alive():
            self.process.terminate()
            # A stopped process (SIGSTOP, Ctrl+Z, a debugger) keeps SIGTERM
            # pending until it runs again.
            with contextlib.suppress(ProcessLookupError):
                os.kill(self.process.pid, signal.SIGCONT)
            self.process.join(timeout)
        if self.process.is_alive():
            self.process.kill()
            self.process.join()
        return self.process.exitcode

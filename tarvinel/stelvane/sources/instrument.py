"""The simulated instrument: the source the demo runs (no SOURCE).

It announces point columns and a pattern (PN, PXY) and trace columns and a
pattern (TN, TXY), then streams point rows at a steady rate (PD: a single row
as a list when one row is due, otherwise a block as a 2-D array), ends a run
with ROLL every `run_length` rows, and sends whole traces (TD, complex 2-D
arrays: a frequency column and four complex responses), all through the
Feed as any other source does.

The first point column, "time", is the time the row was sampled, in seconds
since `epoch` on the monotonic clock the whole machine shares; the window uses
it to measure how long a row took to reach the screen.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass, field
import math
import time
from typing import ClassVar

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


def produce(feed, options: ProducerOptions, epoch: float) -> None:
    """Writes the instrument's commands into `feed` until the window closes
    (the feed then raises FeedClosed) or `options.seconds` have passed."""
    rng = np.random.default_rng(options.seed)
    points = PointSource(options, rng)
    traces = TraceSource(options, rng)
    feed.columns(point_names(points.columns), pattern=options.point_pattern)
    if options.trace_rate > 0:
        feed.trace_columns(list(TRACE_NAMES), pattern=options.trace_pattern)

    start = time.monotonic()
    sent = 0
    in_run = 0
    next_trace = start
    while not feed.closed:
        now = time.monotonic()
        if options.seconds and now - start >= options.seconds:
            break
        due = int((now - start) * options.rate) - sent
        if options.run_length:
            due = min(due, options.run_length - in_run)
        if due > 0:
            times = start - epoch + (sent + np.arange(due)) / options.rate
            block = points.rows(times, sent)
            if due == 1:
                feed.row(block[0].tolist())
            else:
                feed.rows(block)
            sent += due
            in_run += due
            if options.run_length and in_run >= options.run_length:
                feed.roll()
                in_run = 0
        if options.trace_rate > 0 and now >= next_trace:
            next_trace = _send_trace(feed, traces, next_trace, now, options.trace_rate)
        wake = min(now + options.block_interval,
                   next_trace if options.trace_rate > 0 else math.inf)
        feed.sleep(max(0.0, wake - time.monotonic()))


@dataclass
class InstrumentSource:
    """The simulated instrument with `options`, its time column counted from
    `epoch`. It runs until the window closes or its `options.seconds` have
    passed, and ends as it always has: at once, with no word on the status
    pipe."""
    options: ProducerOptions = field(default_factory=ProducerOptions)
    epoch: float = 0.0
    describe: ClassVar[str] = "the simulated instrument"
    # The instrument has no SOURCE text; its settings go by this name.
    settings_key: ClassVar[str] = "instrument"

    def run(self, feed, status, stop) -> str | None:
        produce(feed, self.options, self.epoch)
        return None


def _send_trace(feed, traces: TraceSource, due: float, now: float, rate: float) -> float:
    """Sends the trace due at `due`; returns when the next one is due."""
    feed.trace(traces.trace())
    due += 1 / rate
    return now + 1 / rate if due < now else due  # fell behind: no burst

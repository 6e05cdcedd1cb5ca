"""Starting what a benchmark measures: the demo's window on the simulated
instrument, the window of any command line (with a standard input of the
benchmark's choosing), and a sender process (rowsender.py) offering rows of
text at a rate over a road, read by a window as `... | stelvane -` would."""

import functools
import os
import pathlib
import subprocess
import sys
import time

import numpy as np

from . import qtapp  # noqa: F401  (the platform and the settings, before the package loads Qt)
from tarvinel.stelvane import config
from tarvinel.stelvane.sources.instrument import PointSource, ProducerOptions, point_names

COLUMNS = 1 + len(config.ridx)   # "time" and one column per curve
PATTERN = "time,[^t].*"          # time against every other column
SENDER = pathlib.Path(__file__).resolve().parent / "rowsender.py"
# Rows of the instrument's signals a sender cycles through: over three live
# views' worth (the window shows the last 20,000 rows).
POOL = 1 << 16


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
    """The row sender (rowsender.py) offering `rate` rows a second of the
    instrument's signals over `sink`, a roll every two seconds."""
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

"""A damped oscillator, sampled live: point rows until the window closes.

    stelvane examples/oscillator.py        (or: python examples/oscillator.py)

Each run is one ring-down of the oscillator, 2,000 rows, then a roll: the
finished run moves to the history plot.
"""

import math
import time

import numpy as np

RATE = 2000          # rows per second
RUN_ROWS = 2000      # rows per ring-down
BLOCK_ROWS = 50      # rows sent at once


def produce(feed):
    feed.columns(["time", "position", "velocity", "energy"])
    feed.pattern("time,(position|velocity)")
    start = time.monotonic()
    sent = 0
    while feed.sleep(BLOCK_ROWS / RATE):
        index = sent + np.arange(BLOCK_ROWS)
        t = (index % RUN_ROWS) / RATE
        position = np.exp(-2.0 * t) * np.cos(2 * math.pi * 5 * t)
        velocity = np.gradient(position, 1 / RATE)
        energy = 0.5 * (position ** 2 + (velocity / (2 * math.pi * 5)) ** 2)
        times = start + index / RATE
        feed.rows(np.column_stack([times, position, velocity, energy]))
        sent += BLOCK_ROWS
        if sent % RUN_ROWS == 0:
            feed.roll()


if __name__ == "__main__":
    from tarvinel.stelvane import show

    show(produce)

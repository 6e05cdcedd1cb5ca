"""Three frequency sweeps of a filter as whole traces, then the script ends.

    stelvane examples/sweep.py             (or: python examples/sweep.py)

Each trace holds a frequency column and the complex response H; the window
shows its magnitude (fy: mag) against the frequency, and says in the status
bar when the script has ended.
"""

import numpy as np

SWEEPS = 3
POINTS = 501


def produce(feed):
    feed.trace_columns(["freq", "H"])
    feed.trace_pattern("freq,H")
    freq = np.linspace(1e3, 1e5, POINTS)
    for sweep in range(SWEEPS):
        corner = 1e4 * (1 + sweep)               # the corner moves up each sweep
        response = 1 / (1 + 1j * freq / corner)  # a first-order low-pass
        feed.trace(np.column_stack([freq, response]))
        if not feed.sleep(0.2):
            return


if __name__ == "__main__":
    from tarvinel.stelvane import show

    show(produce)

"""Two or more ways of doing the same thing measured side by side: in
alternating rounds, so that a busy machine weighs on every side alike, and
compared by the ratio of their medians and the median of each round's own
ratio (a burst of load hits both halves of a round)."""

import math
import statistics
import time


def alternating(rounds: int, sides: dict, after=None) -> dict:
    """Runs each of `sides` (name: a function of no arguments giving a
    figure) once a round, in turn, for `rounds` rounds: {name: [figure of
    each round]}. `after(round_number, name, figure)`, if given, is called
    as each figure comes (from round 1)."""
    results = {name: [] for name in sides}
    for round_number in range(1, rounds + 1):
        for name, run in sides.items():
            figure = run()
            results[name].append(figure)
            if after is not None:
                after(round_number, name, figure)
    return results


def paired_median(over, under, figure=lambda value: value) -> float:
    """The median of the rounds' own ratios over / under (of `figure` of each)."""
    return statistics.median(figure(a) / figure(b) for a, b in zip(over, under))


def best_time(function, *args, budget: float):
    """Shortest of repeated runs of function(*args): at least one, more while
    `budget` seconds last. (seconds, what the last run returned)."""
    best = math.inf
    spent = 0.0
    while spent < budget:
        start = time.perf_counter()
        result = function(*args)
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
    return best, result

"""Benchmark: what the statistics table and the spectrum plot cost the live
pipeline.

The demo's window runs the simulated instrument at 400,000 points/s (eight
curves, a roll every two seconds, traces coming in), measured as
bench/pipeline.py measures it, in three set-ups taken in turn, round after
round, in one run: neither shown, the statistics table shown (S), the
spectrum plot shown (P). Each set-up reports the points per second stored,
the frames per second that showed new data, the 95th percentile of the
rows' latency, the window's own processor time per million rows stored and
the share of the wall time the derived view's own calls took (its figures
and its curves, not the painting of the spectrum plot) and, with the
spectrum shown, how many new spectra the live plot's frames got (1.00: a new
spectrum with every frame); at the end each derived view's figures are given as ratios to those without
it, over the rounds (the median). The target: each costs at most 5% of the
sustained rate, that is stores at least 0.95 of it.
"""
import argparse
import os
import time

from harness.measuring import MEASURE, WARMUP, measure
from harness.qtapp import application
from harness.sidebyside import alternating, paired_median
from harness.starting import COLUMNS, PATTERN
from tarvinel.stelvane import qt_compat

RATE = 400_000
ROUNDS = 3
TARGET_RATIO = 0.95
# (name, the view actions to trigger once the window is up)
SETUPS = (("off", ()), ("statistics", ("stats",)), ("spectrum", ("spectrum",)))


class OwnWork:
    """Wall time spent in the derived views' own calls (the table's refresh,
    the spectrum feed's frames; not the painting of the spectrum plot)."""

    def __init__(self, window):
        self.spent = 0.0
        self.spectra = 0  # spectra shown
        for owner, name in ((window.stats_table, "refresh"), (window.spectrum, "present")):
            setattr(owner, name, self.timed(getattr(owner, name)))
        shown = window.spectrum._show

        def counted_show(*args):
            self.spectra += 1
            return shown(*args)
        window.spectrum._show = counted_show

    def timed(self, call):
        def timed_call(*args):
            start = time.perf_counter()
            try:
                return call(*args)
            finally:
                self.spent += time.perf_counter() - start
        return timed_call


def meter(own: OwnWork, window):
    """For measuring.measure: the window's processor time per million rows
    stored, the derived views' own share of the wall time, and the spectra
    shown per frame of the live plot."""
    cpu, spent, start = time.process_time(), own.spent, time.monotonic()
    spectra, frames = own.spectra, window.live_plot.frames
    return lambda stored: {"cpu": (time.process_time() - cpu) / max(stored, 1) * 1e6,
                           "own": (own.spent - spent) / (time.monotonic() - start),
                           "spectra": (own.spectra - spectra)
                           / max(window.live_plot.frames - frames, 1)}


def run_setup(app, rate, actions):
    from tarvinel.stelvane.app import create_app

    window = create_app(["--rate", str(rate), "--columns", str(COLUMNS), "--pattern", PATTERN,
                         "--run-length", str(2 * rate), "--fresh"]).window
    own = OwnWork(window)
    for action in actions:
        getattr(window.controls, action).trigger()
    return measure(app, window, lambda: meter(own, window))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rate", type=int, default=RATE)
    parser.add_argument("--rounds", type=int, default=ROUNDS)
    args = parser.parse_args()
    app = application()
    print(f"{qt_compat.API}, {args.rate:,} points/s, {COLUMNS} columns, pattern {PATTERN!r}, "
          f"{os.cpu_count()} cores; {MEASURE:.0f} s per set-up after {WARMUP} s warm-up, "
          f"{args.rounds} rounds", flush=True)
    print(f"{'round':>5} {'set-up':>10} {'stored/s':>10} {'fps':>5} {'p95 ms':>7} "
          f"{'cpu s/M rows':>12} {'own work':>8} {'spectra/frame':>13} {'problems':>8}")

    def printed(round_number, name, r):
        print(f"{round_number:>5} {name:>10} {r['stored']:>10,.0f} {r['fps']:>5.0f} "
              f"{1e3 * r['p95']:>7.1f} {r['cpu']:>12.2f} {100 * r['own']:>7.1f}% "
              f"{r['spectra']:>13.2f} {r['problems']:>8}", flush=True)

    sides = {name: (lambda actions=actions: run_setup(app, args.rate, actions))
             for name, actions in SETUPS}
    results = alternating(args.rounds, sides, after=printed)
    print("ratios to 'off' (median over the rounds; each round against its own 'off'):")
    for name, _ in SETUPS[1:]:
        ratios = {figure: paired_median(results[name], results["off"],
                                        lambda r, figure=figure: r[figure])
                  for figure in ("stored", "fps", "p95", "cpu")}
        verdict = "met" if ratios["stored"] >= TARGET_RATIO else "NOT met"
        print(f"  {name:>10}: stored {ratios['stored']:.3f} (target >= {TARGET_RATIO}: {verdict}), "
              f"fps {ratios['fps']:.3f}, p95 {ratios['p95']:.3f}, window cpu per row "
              f"{ratios['cpu']:.3f}")


if __name__ == "__main__":
    main()

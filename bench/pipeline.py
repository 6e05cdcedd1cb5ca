"""The live pipeline end to end: producer process -> queue -> intake -> data
set -> curves -> a painted frame, in the demo application's own window.

For each offered rate the window runs with all curves shown (every curve key
fed from a matched pair) and a roll every two seconds, and traces keep coming
at the demo's default rate. After a warm-up it measures, over a few seconds:
- points (rows) per second stored by the window;
- frames per second that showed new data (paints of the live plot);
- latency of every row from its sample time in the producer (the "time"
  column, on the machine-wide monotonic clock) to the end of the paint of
  the first frame that showed it: median and 95th percentile.
The window sustains a rate when it stores at least 98% of it, paints at least
30 new frames per second and keeps the 95th percentile under 100 ms.
"""
import os

from harness.measuring import MEASURE, TARGET_FPS, TARGET_P95, WARMUP, measure, sustained
from harness.qtapp import application
from harness.starting import COLUMNS, PATTERN, instrument_window
from tarvinel.stelvane import qt_compat

RATES = (50_000, 100_000, 200_000, 400_000, 800_000)
TARGET_RATE = 200_000


def run_rate(app, rate):
    return dict(measure(app, instrument_window(rate)), rate=rate)


def main():
    app = application()
    print(f"{qt_compat.API}, {COLUMNS} columns, pattern {PATTERN!r}, {os.cpu_count()} cores; "
          f"{MEASURE:.0f} s per rate after {WARMUP} s warm-up", flush=True)
    print(f"{'offered/s':>10} {'stored/s':>10} {'fps':>5} {'curves':>6} "
          f"{'median ms':>9} {'p95 ms':>7} {'problems':>8}  sustained")
    best = 0
    for rate in RATES:
        r = run_rate(app, rate)
        ok = sustained(r)
        if ok:
            best = max(best, rate)
        print(f"{r['rate']:>10,} {r['stored']:>10,.0f} {r['fps']:>5.0f} {r['curves']:>6} "
              f"{1e3 * r['median']:>9.1f} {1e3 * r['p95']:>7.1f} {r['problems']:>8}  "
              f"{'yes' if ok else 'no'}", flush=True)
    verdict = "met" if best >= TARGET_RATE else "NOT met"
    print(f"highest rate sustained: {best:,} points/s (target {TARGET_RATE:,} points/s at "
          f">= {TARGET_FPS:.0f} fps, p95 < {TARGET_P95 * 1e3:.0f} ms: {verdict})")


if __name__ == "__main__":
    main()

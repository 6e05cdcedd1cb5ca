"""The window reading 10,000, 100,000 and 1,000,000 rows/s of 9 columns
from its standard input, as `python my_instrument.py | stelvane -` would.

A sender process (harness/rowsender.py) writes fixed-width text rows (the
sample time, then the simulated instrument's eight signals) into a pipe
that is the window's standard input; the window shows the time against
every other column (eight curves) over its newest 20,000 rows, a run ending
every two seconds. After a warm-up it measures for a few seconds (see
harness/measuring.py) and prints per offered rate: rows stored per second,
frames per second that showed new data, the median and 95th percentile of
the latency from a row's sample time to the end of the paint that first
showed it, and the processor-seconds per million rows stored of the window
process, its producer process (where the text is parsed) and both together
(the sender's own is printed apart: it stands for the user's program).

    python bench/stdinrates.py [--rates 10000,100000,1000000]
"""
import argparse
import os

from harness.measuring import MEASURE, WARMUP, measure_fed
from harness.qtapp import application
from harness.starting import COLUMNS, PATTERN, piped_window, rates
from tarvinel.stelvane import qt_compat

RATES = "10000,100000,1000000"


def run_rate(app, rate: int) -> dict:
    window, sender = piped_window(rate, ["-", "--pattern", PATTERN])
    return measure_fed(app, window, rate, sender)


def print_rate(r: dict) -> None:
    cpu = r["cpu"]
    print(f"{r['rate']:>10,} {r['stored']:>10,.0f} {r['fps']:>5.0f} {1e3 * r['median']:>9.1f} "
          f"{1e3 * r['p95']:>7.1f} {cpu['window']:>8.2f} {cpu['producer']:>8.2f} "
          f"{cpu['window'] + cpu['producer']:>8.2f} {cpu['sender']:>8.2f}   "
          f"{os.getloadavg()[0]:.2f}", flush=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rates", type=rates, default=rates(RATES),
                        help=f"rows per second offered (default {RATES})")
    args = parser.parse_args(argv)
    app = application()
    print(f"{qt_compat.API}, {COLUMNS} columns on standard input, pattern {PATTERN!r}, "
          f"{os.cpu_count()} cores; {MEASURE:.0f} s per rate after {WARMUP} s warm-up; "
          f"processor-seconds per million rows", flush=True)
    print(f"{'offered/s':>10} {'stored/s':>10} {'fps':>5} {'median ms':>9} {'p95 ms':>7} "
          f"{'window':>8} {'producer':>8} {'both':>8} {'sender':>8}   load")
    for rate in args.rates:
        print_rate(run_rate(app, rate))


if __name__ == "__main__":
    main()

"""Where the window's processor time goes, part by part, at the demo's rate
and with 10,000, 100,000 and 1,000,000 rows/s of 9 columns on standard input.

Each case runs its window for a warm-up, then measures for a few seconds:
the GUI thread's processor time in each part (harness/parts.py: the queue,
Dataset.append, the live plot's thinning, pyqtgraph's setData, the plots'
painting), the rest of the window's process ("other": the event loop, the
other widgets, other threads), and the producer process, where standard
input's text is parsed. Printed per case: milliseconds of processor time per
second of each, frames per second and rows stored per second.

    python bench/partcost.py [--rates 10000,100000,1000000] [--seconds 4]
"""
import argparse
import os
import time

from harness.measuring import WARMUP, cpu_seconds
from harness.parts import PART_NAMES, clocked
from harness.qtapp import application
from harness.starting import PATTERN, piped_window, rates
from harness.waiting import run_loop, wait
from tarvinel.stelvane import qt_compat

RATES = "10000,100000,1000000"
MEASURE = 4.0
COLUMNS_SHOWN = ("producer", *PART_NAMES, "other", "window")


def demo_window():
    from tarvinel.stelvane.app import create_app

    return create_app(["--fresh"]).window, None


def measured(app, window, sender, seconds: float) -> dict:
    """ms of processor time per second of each part, frames/s and rows/s."""
    wait(app, lambda: len(window.point_dataset) > 0, 30)
    run_loop(app, WARMUP)
    producer = window.producer.process.pid
    with clocked() as clock:
        before = clock.snapshot()
        cpu, made = cpu_seconds(), cpu_seconds(producer)
        frames, stored = window.live_plot.frames, window.point_dataset.rows_stored
        start = time.monotonic()
        run_loop(app, seconds)
        spent = time.monotonic() - start
        parts = {name: clock.spent[name] - before[name] for name in PART_NAMES}
        cpu, made = cpu_seconds() - cpu, cpu_seconds(producer) - made
        frames = window.live_plot.frames - frames
        stored = window.point_dataset.rows_stored - stored
    window.close()
    if sender is not None:
        sender.kill()
        sender.wait()
    figures = {name: 1e3 * value / spent for name, value in parts.items()}
    figures.update(producer=1e3 * made / spent, window=1e3 * cpu / spent,
                   other=1e3 * (cpu - sum(parts.values())) / spent)
    return dict(figures, fps=frames / spent, rows=stored / spent)


def print_row(name: str, figures: dict) -> None:
    cells = " ".join(f"{figures[column]:>9.1f}" for column in COLUMNS_SHOWN)
    print(f"{name:>14} {cells} {figures['fps']:>5.0f} {figures['rows']:>10,.0f}", flush=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rates", type=rates, default=rates(RATES),
                        help=f"rows per second on standard input (default {RATES})")
    parser.add_argument("--seconds", type=float, default=MEASURE)
    args = parser.parse_args(argv)
    app = application()
    load = ", ".join(f"{value:.2f}" for value in os.getloadavg())
    print(f"{qt_compat.API}, {os.cpu_count()} cores, load average {load}; ms of processor time "
          f"per second ({args.seconds:.0f} s after {WARMUP} s warm-up)", flush=True)
    print(f"{'case':>14} " + " ".join(f"{column:>9}" for column in COLUMNS_SHOWN)
          + f" {'fps':>5} {'rows/s':>10}")
    print_row("demo", measured(app, *demo_window(), args.seconds))
    for rate in args.rates:
        window, sender = piped_window(rate, ["-", "--pattern", PATTERN])
        print_row(f"stdin {rate:,}", measured(app, window, sender, args.seconds))


if __name__ == "__main__":
    main()

"""Processor time of the window per frame and per second, at the demo's own
rate and with nothing new to show.

The demo's window (`python -m tarvinel.stelvane`, its default producer and
rate, the remembered settings left aside) runs for a warm-up, then for a few
seconds in which this process' processor time (all its threads; the
producer is a process of its own and is not counted) and the live plot's
frames that showed new data are counted. Then the producer is stopped and
the window, which now has nothing new to show, is measured the same way.
Printed: frames per second, processor time per frame, processor time per
second (ms) and the share of one core the window's process used, and the
paints of each part of the window (plots, data boxes, status bar) per
second. `--seconds` sets how long each part is measured.
"""
import argparse
import os
import time

from harness.qtapp import PaintCounter, application
from harness.waiting import run_loop
from tarvinel.stelvane import qt_compat

WARMUP = 2.0
MEASURE = 4.0
TARGET_CORE = 0.35  # share of a core at the demo's rate


def watched_widgets(window) -> dict:
    widgets = {f"{presenter.name} plot": presenter.plot.viewport() for presenter in window.plot_presenters}
    for key, record in window.modes.items():
        widgets[f"{key} box"] = record.data_box.table.viewport()
    widgets["status bar"] = window.status_bar
    return widgets


def measure(app, window, counter, seconds: float) -> dict:
    before = dict(counter.paints)
    frames, cpu, start = window.live_plot.frames, time.process_time(), time.monotonic()
    run_loop(app, seconds)
    spent = time.monotonic() - start
    frames = window.live_plot.frames - frames
    cpu = time.process_time() - cpu
    paints = {name: (count - before[name]) / spent for name, count in counter.paints.items()}
    return {"fps": frames / spent, "core": cpu / spent,
            "ms_per_frame": 1e3 * cpu / frames if frames else float("nan"), "paints": paints}


def report(what: str, figures: dict) -> None:
    paints = ", ".join(f"{name} {rate:.0f}" for name, rate in figures["paints"].items())
    print(f"{what}: {figures['fps']:.1f} frames/s, {figures['ms_per_frame']:.2f} ms of processor "
          f"time per frame, {1e3 * figures['core']:.1f} ms per second, {figures['core']:.4f} of a core")
    print(f"  paints per second: {paints}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=MEASURE,
                        help=f"how long each part is measured (default {MEASURE:.0f})")
    seconds = parser.parse_args(argv).seconds
    from tarvinel.stelvane.app import create_app

    app = application()
    window = create_app(["--fresh"]).window
    counter = PaintCounter(watched_widgets(window))
    print(f"{qt_compat.API}, the demo's defaults, {os.cpu_count()} cores; {seconds:.0f} s "
          f"after {WARMUP:.0f} s warm-up", flush=True)
    run_loop(app, WARMUP)
    live = measure(app, window, counter, seconds)
    report("demo rate", live)
    window.producer.stop()
    run_loop(app, WARMUP)
    report("nothing new", measure(app, window, counter, seconds))
    verdict = "met" if live["core"] <= TARGET_CORE else "NOT met"
    print(f"target <= {TARGET_CORE} of a core at the demo's rate: {verdict}")
    window.close()


if __name__ == "__main__":
    main()

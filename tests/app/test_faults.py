"""Faults of the producer and of the application's surroundings, with real
processes and signals: a producer killed or stopped in the middle of a large
item, a flood of malformed items, the application sent SIGTERM, SIGINT or
SIGHUP or closed while the producer writes, the X server going away.

Through every fault the window's frame timer must keep ticking: the longest
gap between two frames is recorded and printed at the end of the run."""

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from tarvinel.stelvane.window import watch
from tarvinel.stelvane.window.problems import PROBLEMS_KEPT
from tarvinel.stelvane.sources.producer import ProducerOptions, ProducerProcess

from tests.support.fault_producers import ScriptedProducer, flood, half_an_item
from tests.support.frames import CONTEXT, LONGEST_GAP, assert_still_drawing, closed_within, stored_rows
from tests.support.running import WAIT, children, is_producer, start, wait_gone

# Frames a second that showed new rows during the flood, at the least.
MIN_FLOOD_FPS = 10
# 1,000,000 by STELVANE_FLOOD_ITEMS; the default keeps the test short (two
# hundred times the problems the log keeps, a few seconds of flood).
FLOOD_ITEMS = int(os.environ.get("STELVANE_FLOOD_ITEMS", "10000"))
# Blocks of 100,000 rows of 20 columns (16 MB): the pipe carries one in
# hundreds of pieces, so a fault strikes in the middle of one.
LARGE_BLOCKS = ProducerOptions(rate=200_000, columns=20, run_length=0, trace_rate=0, block_interval=0.5)


def simulated(options):
    return lambda queue: ProducerProcess(CONTEXT, queue, options, time.monotonic())


def strike_mid_item(qtbot, window):
    """Waits until the window has part of a large item, no more."""
    intake = window.intake.queue
    qtbot.waitUntil(lambda: len(window.point_dataset) > 0 and intake.unfinished > 0, timeout=WAIT)
    return stored_rows(window.point_dataset)


@pytest.mark.parametrize("then", ["dies", "stalls"])
def test_producer_that_leaves_an_item_half_written(qtbot, run_window, monkeypatch, then):
    monkeypatch.setattr(watch, "STALL_SECONDS", 1.0)
    window, clock = run_window(lambda queue: ScriptedProducer(CONTEXT, queue, half_an_item, 50, then))
    points, status = window.point_dataset, window.statusBar()
    qtbot.waitUntil(lambda: len(points) == 50, timeout=WAIT)
    clock.mark_fault()
    if then == "dies":
        qtbot.waitUntil(lambda: "middle of an item" in status.currentMessage(), timeout=WAIT)
        assert [m for m, _ in window.problems.entries] == [
            "the producer stopped (exit code -9)",
            "the producer stopped in the middle of an item: the 100,004 bytes of it that came were dropped"]
    else:
        qtbot.waitUntil(lambda: "sent nothing for 1 s" in status.currentMessage(), timeout=WAIT)
        assert window.producer.is_alive() and window.intake.queue.unfinished == 100_004
    rows = stored_rows(points)
    assert rows[:, 0].tolist() == list(range(50))
    assert_still_drawing(qtbot, window, clock, rows)
    assert closed_within(window, 5)


@pytest.mark.parametrize("sig", [signal.SIGKILL, signal.SIGSTOP], ids=lambda s: s.name)
def test_simulated_instrument_killed_or_stopped_mid_block(qtbot, run_window, monkeypatch, sig):
    monkeypatch.setattr(watch, "STALL_SECONDS", 1.0)
    window, clock = run_window(simulated(LARGE_BLOCKS))
    before = strike_mid_item(qtbot, window)
    os.kill(window.producer.process.pid, sig)
    clock.mark_fault()
    expected = "middle of an item" if sig == signal.SIGKILL else "sent nothing for 1 s"
    qtbot.waitUntil(lambda: expected in window.statusBar().currentMessage(), timeout=WAIT)
    assert_still_drawing(qtbot, window, clock, before)
    # A stopped producer is ended by SIGTERM (woken to receive it) at once:
    # the window does not wait out the stop's timeout (3 s) for it to end.
    assert closed_within(window, 8 if sig == signal.SIGKILL else 3)
    assert window.producer.process.exitcode == (-sig if sig == signal.SIGKILL else -signal.SIGTERM)


def test_flood_of_malformed_items_keeps_the_log_bounded_and_the_frames_coming(qtbot, run_window):
    good_every = 10
    window, clock = run_window(lambda queue: ScriptedProducer(CONTEXT, queue, flood, FLOOD_ITEMS, good_every))
    points = window.point_dataset
    qtbot.waitUntil(lambda: len(points) > 0, timeout=WAIT)
    began, frames = clock.mark_fault(), window.live_plot.frames
    qtbot.waitUntil(lambda: points.last_row() == (-1.0, -1.0), timeout=30 * WAIT)
    ended = time.monotonic()
    assert window.problems.count == FLOOD_ITEMS
    assert len(window.problems.entries) <= PROBLEMS_KEPT
    assert len(window.status_bar.problems_label.toolTip().splitlines()) <= PROBLEMS_KEPT
    assert len(points) == FLOOD_ITEMS // good_every + 1
    # Frames that showed new rows kept coming all through the flood. (PyQt5
    # draws 30 and more a second here on a quiet machine; the Qt 6 bindings
    # paint the same plot more slowly, the flood or not.)
    assert (window.live_plot.frames - frames) / (ended - began) >= MIN_FLOOD_FPS
    assert clock.longest_gap() < LONGEST_GAP


# --- the application as a process -------------------------------------------------------------

# Warnings a clean exit never prints: multiprocessing's resource tracker
# about semaphores or shared memory left behind, Python about unclosed files.
UNCLEAN = ("leaked", "resource_tracker", "ResourceWarning", "Traceback")


def started_app(*args, env=None):
    app = start(*args, env=env)
    end = time.monotonic() + 30
    while time.monotonic() < end and not any(map(is_producer, children(app.pid))):
        if app.poll() is not None:
            pytest.fail(app.stderr.read())
        time.sleep(0.05)
    helpers = children(app.pid)
    assert any(map(is_producer, helpers)), helpers
    return app, helpers


def written(pid):
    """Bytes the process has written so far (a producer: into the queue's pipe)."""
    try:
        io = Path(f"/proc/{pid}/io").read_text()
    except FileNotFoundError:
        return 0
    return int(next(line.split()[1] for line in io.splitlines() if line.startswith("wchar:")))


def wait_flowing(helpers, at_least):
    """Until the producer has written `at_least` bytes of rows: data flowing."""
    producers = [pid for pid in helpers if is_producer(pid)]
    end = time.monotonic() + WAIT / 1000
    while time.monotonic() < end and max(map(written, producers)) < at_least:
        time.sleep(0.05)
    assert max(map(written, producers)) >= at_least, "no rows from the producer"


def ended(app, timeout=20):
    try:
        out, err = app.communicate(timeout=timeout)
    finally:
        if app.poll() is None:
            app.kill()
            app.communicate()
    return app.returncode, err


# Large blocks: the window cannot keep up, so the producer is in the middle
# of writing one (blocked on the full pipe) most of the time.
FAST = ("--rate", "1000000", "--columns", "60", "--trace-rate", "0")


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP], ids=lambda s: s.name)
def test_signals_shut_down_cleanly_with_the_unix_exit_status(qapp, sig):
    app, helpers = started_app(*FAST)
    # Data flowing, the producer ahead: blocks of 4.8 MB, the pipe full after the first.
    wait_flowing(helpers, 16 << 20)
    app.send_signal(sig)
    code, err = ended(app)
    assert code == 128 + sig, err
    assert not any(word in err for word in UNCLEAN), err
    assert wait_gone(helpers) == []


def test_closing_while_the_producer_writes_a_large_block(qapp):
    app, helpers = started_app(*FAST, "--seconds", "2.5")
    code, err = ended(app)
    assert code == 0, err
    assert not any(word in err for word in UNCLEAN), err
    assert wait_gone(helpers) == []


@pytest.mark.skipif(shutil.which("Xvfb") is None, reason="needs Xvfb")
def test_the_x_server_going_away_ends_the_application(qapp, tmp_path):
    display = f":{200 + os.getpid() % 500}"
    server = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        socket = Path(f"/tmp/.X11-unix/X{display[1:]}")
        end = time.monotonic() + 10
        while not socket.exists() and time.monotonic() < end:
            time.sleep(0.05)
        app, helpers = started_app("--rate", "20000", env={"DISPLAY": display, "XAUTHORITY": ""})
        wait_flowing(helpers, 64 << 10)
        server.kill()
        server.wait(10)
        code, err = ended(app, timeout=20)
    finally:
        if server.poll() is None:
            server.kill()
    assert code != 0 and code is not None  # ended, saying it failed
    assert "X" in err  # and why
    assert wait_gone(helpers) == []

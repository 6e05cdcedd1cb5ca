"""The window's frames through a fault: a window started over a producer's
queue with a clock on its frame timer, the longest gap between two frames
recorded for the run's summary, and the checks that it still draws and
keeps every row stored before the fault."""

import time

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.app import QUEUE_ITEMS
from tarvinel.stelvane.window.mainwindow import MainWindow
from tarvinel.stelvane.window.pacing import IDLE_FRAMES, IDLE_INTERVAL

from .producers import CONTEXT

QtCore = qt_compat.QtCore
# Frames may come late on a loaded machine; a GUI thread held by a read
# waits for good (the test then times out).
LONGEST_GAP = 0.5
# Frames counted after a key: fewer than the pacer's still frames, so all
# of them come before it may slow down again.
AWAKE_FRAMES = IDLE_FRAMES // 2
# (test, longest gap between two frames of the window) for each window the
# fault tests ran; the run ends by printing the longest.
FRAME_GAPS = []


@pytest.fixture(scope="session")
def frame_gaps():
    return FRAME_GAPS


class FrameClock:
    """Times the window's frames (the timer's ticks)."""

    def __init__(self, window, record):
        self.stamps = []
        self.record = record
        self.fault = None  # when the fault began
        window.timer.timeout.connect(lambda: self.stamps.append(time.monotonic()))

    def mark_fault(self) -> float:
        self.fault = time.monotonic()
        return self.fault

    def longest_gap(self, since: float | None = None) -> float:
        since = self.fault if since is None else since
        stamps = [t for t in self.stamps if t >= since]
        return float(np.max(np.diff(stamps))) if len(stamps) > 1 else 0.0

    def frames_since(self, since: float) -> list[float]:
        return [t for t in self.stamps if t >= since]


@pytest.fixture
def run_window(qtbot, request, frame_gaps):
    """Starts a window reading `producer`'s queue; closes it at the end."""
    clocks = []

    def run(make_producer, **window_args):
        queue = CONTEXT.Queue(QUEUE_ITEMS)
        producer = make_producer(queue)
        window = MainWindow(queue, producer=producer, **window_args)
        qtbot.addWidget(window)
        clock = FrameClock(window, request.node.name)
        clocks.append(clock)
        window.show()
        producer.start()
        window.start()
        return window, clock

    yield run
    for clock in clocks:
        if clock.fault is not None:
            frame_gaps.append((clock.record, clock.longest_gap()))


def stored_rows(dataset):
    return np.column_stack([dataset.column(name) for name in dataset.column_names])


def assert_still_drawing(qtbot, window, clock, before):
    """Frames keep coming (a few a second while nothing is new, at the frame
    rate again as soon as the user does something: a key here, which Qt
    delivers at once, where a pointer moved under Xvfb may never reach the
    window), and every row stored before the fault is still there."""
    # Nothing is new after the fault: the timer slows down after its still
    # frames (a key while it is still awake changes nothing, and would not
    # tell a woken timer from one that never slowed down).
    qtbot.waitUntil(lambda: window.pacer.idle, timeout=5000)
    assert clock.longest_gap() < LONGEST_GAP
    woken = time.monotonic()
    qtbot.keyClick(window.live_plot, QtCore.Qt.Key.Key_Shift)
    assert not window.pacer.idle
    # Awake, frames come as fast as they are drawn; idle, one every
    # IDLE_INTERVAL. The median gap tells them apart on a loaded machine
    # (or under the sanitizers, where a frame costs several times as much)
    # where a rate over a fixed time would catch one slow frame.
    qtbot.waitUntil(lambda: len(clock.frames_since(woken)) >= AWAKE_FRAMES, timeout=5000)
    gap = float(np.median(np.diff(clock.frames_since(woken)[:AWAKE_FRAMES])))
    assert gap < IDLE_INTERVAL * 0.8, f"{1000 * gap:.0f} ms between frames after a key"
    assert clock.longest_gap() < LONGEST_GAP
    after = stored_rows(window.point_dataset)
    assert len(after) >= len(before) and np.array_equal(after[:len(before)], before)


def closed_within(window, seconds):
    started = time.monotonic()
    window.close()
    return time.monotonic() - started < seconds and not window.producer.is_alive()

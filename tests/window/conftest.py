"""Fixtures of the window's tests: the time zone fixture (berlin) comes from
the top conftest; the windows themselves from tests/support/window.py, or
(started) a main window over a queue of the test's own."""

import multiprocessing

import pytest

from tarvinel.stelvane.window.mainwindow import MainWindow


@pytest.fixture
def started(qtbot):
    """A main window over a queue of the test's own, shown and running:
    (window, queue)."""
    queue = multiprocessing.get_context("spawn").Queue()
    window = MainWindow(queue)
    qtbot.addWidget(window)
    window.show()
    window.start()
    return window, queue

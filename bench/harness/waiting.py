"""Waiting while a window works: polling its events until something holds,
or running the event loop as the application's own would."""

import time

from .qtapp import QtCore


def wait(app, done, seconds):
    """Runs the events until done() or `seconds` passed; says done()."""
    end = time.monotonic() + seconds
    while not done() and time.monotonic() < end:
        app.processEvents(QtCore.QEventLoop.ProcessEventsFlag.AllEvents, 5)
        time.sleep(0.0005)
    return done()


def run_loop(app, seconds):
    """Runs the event loop for `seconds`, as the application's own would run
    (a loop that polled would be counted as the window's processor time)."""
    loop = QtCore.QEventLoop()
    QtCore.QTimer.singleShot(round(1000 * seconds), loop.quit)
    loop.exec()

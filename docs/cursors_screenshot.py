"""The picture of the measuring cursors in the README (docs/cursors.png):
the demo instrument in the window, a limit line on its sine, cursors A and
B a few seconds apart, paused and saved. `make cursors-png` runs it under
Xvfb:

    python docs/cursors_screenshot.py [PATH]
"""

import sys

from tarvinel.stelvane.app import create_app, save_screenshot
from tarvinel.stelvane.qt_compat import QtCore

# Seconds of the instrument's rows before the cursors are put down, and
# how long to wait for them at most (a busy machine starts the producer late).
WARM_UP = 6.0
PATIENCE_MS = 120_000


def take(path: str) -> int:
    application = create_app(["--fresh", "--run-length", "0", "--window", "10s", "--limit", "sine=0.5"])
    window = application.window

    def measure():
        waited.append(200)
        time = window.point_dataset.column("time") if len(window.point_dataset) else ()
        if (not len(time) or time[-1] - time[0] < WARM_UP) and sum(waited) < PATIENCE_MS:
            QtCore.QTimer.singleShot(200, measure)
            return
        window.controls.pause.setChecked(True)
        low, high = window.plot_presenters[0].visible_x()
        window.cursors.place("A", low + 0.3 * (high - low))
        window.cursors.place("B", low + 0.55 * (high - low))
        QtCore.QTimer.singleShot(800, save)

    def save():
        window.limit_lines.refresh()
        save_screenshot(window, path)
        print(f"screenshot: {path}")
        window.close()

    waited = []
    QtCore.QTimer.singleShot(200, measure)
    application.qt_app.exec()
    window.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(take(sys.argv[1] if len(sys.argv) > 1 else "docs/cursors.png"))

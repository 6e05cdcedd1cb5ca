"""The frames of a recorded window (window/videoexport.WindowFrames): each
shows the window as it is when it is made, whether the window's own
painting is copied or the frame painted whole. The window's own painting
can be copied off screen (the platform a video is made on), where it is an
image of 32-bit pixels: the check runs there, in a process of its own."""

import os
from pathlib import Path
import subprocess
import sys

from tarvinel.stelvane import qt_compat

REPO_ROOT = Path(__file__).resolve().parents[2]
# A shown main window; by each road two frames, the status bar's message
# changed before each; each frame against the window painted whole (grab).
CHECK = """
import multiprocessing, sys
import numpy as np
from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.qt_compat import QtGui, QtWidgets, image_array
from tarvinel.stelvane.window import videoexport
from tarvinel.stelvane.window.mainwindow import MainWindow

def frames_of(window, road):
    videoexport.backing_image = qt_compat.backing_image if road == "own" else lambda w: None
    size = (window.width() - window.width() % 2, window.height() - window.height() % 2)
    frames = videoexport.WindowFrames(window, size, 2)
    pictures = []
    for text in ("the first frame", "the second frame, longer than the first"):
        window.status_bar.showMessage(text)
        frame = frames.next()
        whole = window.grab().toImage().convertToFormat(QtGui.QImage.Format.Format_RGB32)
        expected = image_array(whole)[:size[1], :size[0], :3]
        print(road, "shape", frame.shape == (size[1], size[0], 4),
              "as shown", np.array_equal(frame[..., :3], expected))
        pictures.append(frame.copy())
    print(road, "own painting", frames.own_painting,
          "changed", not np.array_equal(pictures[0], pictures[1]))


if __name__ == "__main__":
    app = QtWidgets.QApplication(["check", "-platform", "offscreen"])
    window = MainWindow(multiprocessing.get_context("spawn").Queue())
    window.show()
    app.processEvents()
    for road in ("own", "whole"):
        frames_of(window, road)
    window.close()
"""


def test_each_frame_shows_the_window_as_it_is(tmp_path):
    env = dict(os.environ, PYTHONPATH=str(REPO_ROOT), QT_QPA_PLATFORM="offscreen",
               XDG_CONFIG_HOME=str(tmp_path))
    done = subprocess.run([sys.executable, "-c", CHECK], env=env, capture_output=True,
                          text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    own = qt_compat.API == "pyside6"  # the binding that reaches the window's own painting
    assert done.stdout.splitlines() == [
        *["own shape True as shown True"] * 2, f"own own painting {own} changed True",
        *["whole shape True as shown True"] * 2, "whole own painting False changed True"]

"""A replay as a new user steers it with the mouse: the slider's handle
dragged while the replay plays, a click on the track that jumps there."""

import datetime
import math

import pytest

from tarvinel.stelvane import qt_compat

from tests.support.userinput import slider_point

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt
QStyle = QtWidgets.QStyle
WAIT = 20_000  # ms: the producer is a fresh interpreter that loads numpy first
ROWS, STEP = 600, 0.1  # 60 seconds, ten rows a second
START = datetime.datetime(2026, 12, 9, 10, 0, tzinfo=datetime.timezone.utc)


@pytest.fixture
def recording(tmp_path):
    path = tmp_path / "logger.csv"
    path.write_text("time,level\n" + "".join(
        f"{(START + datetime.timedelta(seconds=i * STEP)).isoformat()},{math.sin(i / 10):.4f}\n"
        for i in range(ROWS)))
    return path


def replay_of(window) -> dict:
    return window.summary()["replay"]


def move_to(widget, pos: QtCore.QPoint) -> None:
    """A move with the left button held."""
    local = QtCore.QPointF(pos)
    QtWidgets.QApplication.sendEvent(widget, QtGui.QMouseEvent(
        QtCore.QEvent.Type.MouseMove, local, QtCore.QPointF(widget.mapToGlobal(pos)),
        Qt.MouseButton.NoButton, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier))


def test_the_handle_drags_while_playing_and_a_click_on_the_track_jumps_there(
        qtbot, open_app, recording):
    window = open_app(str(recording), "--replay", "3")
    slider = window.replay_bar.slider
    qtbot.waitUntil(lambda: replay_of(window)["rows"] == ROWS and replay_of(window)["position"] > 5,
                    timeout=WAIT)
    # The reading ended, the replay did not: the title says nothing of an end.
    qtbot.waitUntil(lambda: window.summary()["ended"], timeout=WAIT)
    assert "ended" not in window.windowTitle() and not replay_of(window)["ended"]
    assert "the whole file is read" in window.status_bar.currentMessage()
    rows_per_pixel = ROWS / slider.width()
    # A press aimed at the moving handle lands on the track: the handle jumps
    # there and drags on, in steps as a hand moves, with frames between.
    qtbot.mousePress(slider, Qt.MouseButton.LeftButton, pos=slider_point(slider, 200))
    for wanted in (200, 350, 450):
        if wanted != 200:
            move_to(slider, slider_point(slider, wanted))
        qtbot.wait(60)
        assert abs(replay_of(window)["position"] - wanted) <= rows_per_pixel + 1
    qtbot.mouseRelease(slider, Qt.MouseButton.LeftButton, pos=slider_point(slider, 450))
    qtbot.wait(300)
    position = replay_of(window)["position"]
    assert not replay_of(window)["paused"] and 450 - rows_per_pixel - 1 <= position <= 470
    # A click on the track far from the handle puts the replay there, not one page on.
    qtbot.mouseClick(slider, Qt.MouseButton.LeftButton, pos=slider_point(slider, 100))
    assert abs(replay_of(window)["position"] - 100) <= rows_per_pixel + 2


def test_a_file_of_one_run_gives_the_room_to_the_live_plot_until_a_second_run_comes(
        qtbot, open_app, recording):
    window = open_app(str(recording))
    qtbot.waitUntil(lambda: len(window.point_dataset) == ROWS, timeout=WAIT)
    qtbot.wait(400)  # the status refresh, a few times a second
    live, history = window.live_plot, window.history_plot
    assert history.isHidden() and window.trace_data_box.isHidden()
    assert live.height() > 0.8 * live.parentWidget().height()
    with open(recording, "a") as file:  # a blank line ends the run
        file.write("\n2026-12-09T11:00:00+00:00,0.5\n")
    qtbot.waitUntil(lambda: not history.isHidden(), timeout=WAIT)
    qtbot.waitUntil(lambda: history.height() > 50)

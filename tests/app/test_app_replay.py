"""Replaying a recorded file (`stelvane FILE --replay`): a file the
application exported itself, played through a real window at the pace of
its time column, seeked with real mouse events on the slider and steered
with real keys; watched through the window's --summary."""

import datetime
import math
import time

import numpy as np
import pytest

from tarvinel.stelvane.window import export
from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.model.replay import MAX, Replay

from tests.support.running import WAIT, run_main, start, summary_in
from tests.support.userinput import drag_to, slider_point
from tests.support.window import curve_data

QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets
Qt = QtCore.Qt
QStyle = QtWidgets.QStyle
ROWS, STEP = 400, 0.1  # the recording: 40 seconds, ten rows a second
START = datetime.datetime(2026, 12, 9, 10, 0, tzinfo=datetime.timezone.utc)


@pytest.fixture(scope="module")
def recorded(tmp_path_factory):
    """A file the application wrote: a table of ISO times and numbers read
    with `stelvane FILE --no-follow` and saved again with --export-csv, in a
    process of its own: this module-scoped run comes before any test's own
    fixtures, and its event loop is nothing the window tests should share."""
    folder = tmp_path_factory.mktemp("recorded")
    source, saved = folder / "logger.csv", folder / "recorded.csv"
    source.write_text("time,level,count\n" + "".join(
        f"{(START + datetime.timedelta(seconds=i * STEP)).isoformat()},{math.sin(i / 10):.4f},{i}\n"
        for i in range(ROWS)))
    reading = start(str(source), "--no-follow", "--until-end", "--seconds", "30", "--export-csv",
                    str(saved))
    _, err = reading.communicate(timeout=60)
    assert reading.returncode == 0, err
    lines = [line for line in saved.read_text().splitlines() if not line.startswith("#")]
    assert lines[0] == "time,level,count" and len(lines) == 1 + ROWS
    assert lines[1].startswith("2026-12-09T")  # a time column, as the application writes times
    return saved


def replay_of(window) -> dict:
    return window.summary()["replay"]


def wait_read(qtbot, window, rows=ROWS):
    qtbot.waitUntil(lambda: window.summary()["ended"] and replay_of(window)["rows"] == rows,
                    timeout=WAIT)


def test_a_recorded_file_plays_at_ten_times_the_pace_of_its_time_and_ends(qtbot, open_app, recorded):
    window = open_app(str(recorded), "--replay", "10")
    qtbot.waitUntil(lambda: replay_of(window)["position"] > 30, timeout=WAIT)
    before, since = replay_of(window), time.monotonic()
    qtbot.wait(2500)
    after, spent = replay_of(window), time.monotonic() - since
    assert before["paced_by"] == after["paced_by"] == "time" and after["speed"] == 10
    # X moved ten times as fast as the clock: within 0.15 s (frames on a
    # busy machine) and a row at each end.
    assert after["x"] - before["x"] == pytest.approx(10 * spent, abs=10 * 0.15 + 2 * STEP)
    x, _ = curve_data(window.live_plot, 0)
    assert after["position"] < ROWS and x[-1] <= replay_of(window)["x"]
    qtbot.waitUntil(lambda: replay_of(window)["ended"], timeout=WAIT)
    assert replay_of(window)["position"] == replay_of(window)["rows"] == ROWS
    assert window.statusBar().currentMessage().startswith("replay ended")
    assert "ended" in window.replay_bar.label.text()


def drag_slider(qtbot, slider, value):
    qtbot.mousePress(slider, Qt.MouseButton.LeftButton, pos=slider_point(slider, None))
    target = slider_point(slider, value)
    drag_to(slider, target)
    qtbot.mouseRelease(slider, Qt.MouseButton.LeftButton, pos=target)


def live_ends_at_the_cursor(window, times) -> bool:
    x, _ = curve_data(window.live_plot, 0)
    position = replay_of(window)["position"]
    return len(x) == position and x[-1] == times[position - 1]


def test_the_slider_seeks_both_ways_space_pauses_and_keys_step_and_change_speed(
        qtbot, open_app, recorded):
    window = open_app(str(recorded), "--replay")
    wait_read(qtbot, window)
    times = window.point_dataset.column("time").copy()
    live, slider = window.live_plot, window.replay_bar.slider
    window.activateWindow()
    qtbot.waitActive(window)  # its shortcuts need that
    live.setFocus()
    qtbot.waitUntil(live.hasFocus)
    qtbot.keyClick(live, Qt.Key.Key_Space)
    assert replay_of(window)["paused"] and window.controls.pause.isChecked()
    held = replay_of(window)["position"]
    qtbot.wait(300)  # many frames
    assert replay_of(window)["position"] == held and "paused" in window.replay_bar.label.text()

    rows_per_pixel = ROWS / slider.width()
    for wanted in (3 * ROWS // 4, ROWS // 5):  # forwards, then back
        drag_slider(qtbot, slider, wanted)
        assert abs(replay_of(window)["position"] - wanted) <= rows_per_pixel + 1
        qtbot.waitUntil(lambda: live_ends_at_the_cursor(window, times), timeout=1000)
        assert slider.value() == replay_of(window)["position"]

    position = replay_of(window)["position"]
    step = ROWS // 100  # a key moves by 1% of the rows
    for key, moved in ((Qt.Key.Key_Right, step), (Qt.Key.Key_Left, 0), (Qt.Key.Key_Left, -step)):
        qtbot.keyClick(live, key)  # the plot has the focus: the window's keys still act
        assert replay_of(window)["position"] == position + moved
    qtbot.waitUntil(lambda: live_ends_at_the_cursor(window, times), timeout=1000)

    qtbot.keyClick(live, Qt.Key.Key_BracketRight)
    assert replay_of(window)["speed"] == 2
    qtbot.keyClick(live, Qt.Key.Key_BracketLeft)
    qtbot.keyClick(live, Qt.Key.Key_BracketLeft)
    assert replay_of(window)["speed"] == 0.5 and "0.5×" in window.replay_bar.label.text()
    qtbot.keyClick(live, Qt.Key.Key_Space)  # on again, at half speed: 5 rows a second
    assert not replay_of(window)["paused"]
    since, first = time.monotonic(), replay_of(window)["position"]
    qtbot.waitUntil(lambda: replay_of(window)["position"] >= first + 5, timeout=5000)
    assert time.monotonic() - since > 0.6  # not faster than its pace

    qtbot.keyClick(live, Qt.Key.Key_End)
    qtbot.waitUntil(lambda: replay_of(window)["ended"], timeout=1000)
    qtbot.keyClick(live, Qt.Key.Key_Home)
    assert replay_of(window)["position"] == 0 and not replay_of(window)["ended"]


def test_a_file_whose_x_goes_back_and_forth_plays_at_the_replay_rate(qtbot, open_app, tmp_path):
    path = tmp_path / "scan.csv"
    x = np.random.default_rng(5).uniform(-1, 1, 5000).round(6)
    path.write_text("x,y\n" + "".join(f"{v:.6f},{2 * v:.6f}\n" for v in x))
    window = open_app(str(path), "--replay", "2", "--replay-rate", "100")
    wait_read(qtbot, window, 5000)
    before, since = replay_of(window), time.monotonic()
    qtbot.wait(1500)
    after, spent = replay_of(window), time.monotonic() - since
    assert after["paced_by"] is None and after["x"] == x[after["position"] - 1]
    assert after["position"] - before["position"] == pytest.approx(200 * spent, abs=200 * 0.15 + 2)
    assert "100 rows/s" in window.replay_bar.label.text()


def test_max_shows_every_row_as_it_is_read_and_ends_with_the_file(qtbot, open_app, tmp_path):
    path = tmp_path / "big.csv"
    rows = 300_000
    t = np.arange(rows) * 1e-3
    np.savetxt(path, np.column_stack([t, np.sin(t)]), fmt="%.4f", delimiter=",", header="t,v",
               comments="")
    window = open_app(str(path), "--replay", "max")
    # The window takes the queue's items for a millisecond a frame, as a busy
    # one would: the whole file may well be waiting by its first frame.
    drain = window.intake.drain
    window.intake.drain = lambda deadline, patient=False: drain(time.monotonic() + 1e-3, patient)
    seen = []

    def watch():
        summary = replay_of(window)
        seen.append((summary["position"], window.point_dataset.rows_stored))
        return summary["ended"]

    qtbot.waitUntil(watch, timeout=WAIT)
    assert all(position == stored for position, stored in seen)
    assert len({stored for _, stored in seen}) > 2  # seen while it was read
    assert seen[-1] == (rows, rows) and replay_of(window)["speed"] == "max"


def test_a_saved_history_replays_run_after_run(qtbot, open_app, tmp_path):
    """Finished runs saved as the window saves them (Ctrl+E), replayed: each
    run in turn from its start, the ones before it in the history plot."""
    ds = Dataset("points")
    ds.set_column_names(["time", "v"])
    for run in range(3):
        ds.append(np.column_stack([np.arange(10) * STEP, np.full(10, run)]))
        ds.roll()
    path = tmp_path / "history.csv"
    export.save_history(ds, str(path))
    window = open_app(str(path), "--replay", "4", "--pattern", "time,v")
    seen = []

    def watch():
        view = window.current_dataset()
        seen.append((replay_of(window)["run"], [run.number for run in view.history]))
        return replay_of(window)["ended"]

    qtbot.waitUntil(watch, timeout=WAIT)
    assert [run for run, _ in seen] == sorted(run for run, _ in seen)
    assert {run for run, _ in seen} == {1, 2, 3}
    assert all(history == list(range(1, run)) for run, history in seen)
    assert replay_of(window)["position"] == replay_of(window)["rows"] == 30
    qtbot.waitUntil(lambda: window.history_plot.title_text == "history: 2 runs")


def rows_of(t):
    return np.column_stack([t, np.zeros(len(t))])


def test_the_cursor_keeps_pace_over_new_rows_runs_and_speeds():
    """The cursor without a window: a fake clock, rows as the intake stores them."""
    ds = Dataset("points", max_rows=1000, max_history=2)
    ds.set_column_names(["t", "v"])
    now = [0.0]
    replay = Replay(ds, speed=2.0, rate=10.0, clock=lambda: now[0])
    replay.advance("t", False)
    assert replay.position == 0  # nothing read yet, and no clock running
    ds.append(rows_of(np.arange(100.0)))
    replay.advance("t", False)
    assert replay.position == 1 and replay.view().column("t").tolist() == [0.0]
    now[0] = 10.0
    replay.advance("t", False)
    assert replay.position == 21 and len(replay.view()) == 21  # X 20 after 10 s at 2×
    ds.append(rows_of([50.0, 60.0]))  # X goes back: rows set the pace
    replay.advance("t", False)
    now[0] = 11.0
    replay.advance("t", False)
    assert replay.paced_by is None and replay.position == 21 + 20

    # The run ends and the next one is read: the cursor plays its run to
    # the end, then the next from its start, with the one before as history.
    ds.roll()
    ds.append(rows_of(np.arange(5.0)))
    replay.seek(101)
    assert (replay.run, replay.position, replay.rows) == (1, 101, 107)
    replay.advance("t", False)  # the replay starts again here
    now[0] = 12.0
    replay.advance("t", False)
    assert (replay.run, replay.position) == (1, 102) and replay.view().history == ()
    replay.advance("t", False)  # the next run, from its start
    replay.advance("t", False)
    view = replay.view()
    assert (replay.run, view.run_number, len(view), [r.number for r in view.history]) == (2, 2, 1, [1])
    assert not replay.ended
    replay.step(-1)  # 1% of all rows, back into the first run
    assert (replay.run, replay.position) == (1, 102)

    replay.faster(True)
    assert replay.speed == 4.0
    for _ in range(10):
        replay.faster(True)
    assert replay.speed == MAX
    replay.advance("t", True)
    assert replay.position == replay.rows == 107 and replay.run == 2 and replay.ended
    replay.faster(False)
    assert replay.speed == 1024
    # More rows than a run keeps, more runs than the history keeps: the
    # cursor never points at a row or a run that is gone.
    ds.append(rows_of(np.arange(5.0, 2005.0)))
    replay.seek(replay.rows)
    assert replay.row == 2005 and ds.dropped == 1005 and len(replay.view()) == 1000
    for _ in range(3):
        ds.roll()
        ds.append(rows_of(np.arange(3.0)))
    assert [r.number for r in ds.history] == [3, 4]  # the cursor's run 2 has gone:
    assert (replay.run, replay.position) == (3, 0) and len(replay.view()) == 0  # the oldest's start
    assert replay.summary()["x"] is None and replay.x_at_cursor() == (None, "")


@pytest.mark.parametrize("args, complaint", [
    (["FILE", "--replay", "0"], "argument --replay: SPEED must be a positive number or max, not '0'"),
    (["FILE", "--replay", "fast"], "not 'fast' (give the FILE before --replay"),
    (["--replay"], "--replay plays a recorded file: give it (stelvane FILE --replay)"),
    (["-", "--replay"], "--replay plays a recorded file, not standard input"),
    (["MISSING", "--replay"], "MISSING: no such file"),
    (["DIR", "--replay"], "DIR is no regular file (a replay reads it whole)"),
    (["FILE", "--replay-rate", "5"], "--replay-rate sets the pace of --replay: give --replay"),
    (["FILE", "--replay", "--replay-rate", "0"], "--replay-rate: must be greater than 0"),
])
def test_bad_replays_are_refused_before_anything_starts(refusal, tmp_path, args, complaint):
    (tmp_path / "FILE").write_text("t,v\n0,1\n")
    (tmp_path / "DIR").mkdir()
    args = [str(tmp_path / a) if a in ("FILE", "MISSING", "DIR") else a for a in args]
    assert complaint in refusal(*args)


def test_scripted_replays_say_where_they_are_and_save_the_rows_shown(qapp, recorded, tmp_path,
                                                                      capsys):
    saved = tmp_path / "shown.csv"
    summaries = []
    for args in (["--replay", "max", "--until-end"],
                 ["--replay", "--export-csv", str(saved)]):
        code, out, _ = run_main(capsys, recorded, *args, "--seconds", "3", "--summary")
        assert code == 0
        summaries.append(summary_in(out)["replay"])
    last_x = (START + datetime.timedelta(seconds=(ROWS - 1) * STEP)).timestamp()
    assert summaries[0] == {"position": ROWS, "rows": ROWS, "run": 1, "speed": "max",
                            "paced_by": "time", "paused": False, "ended": True,
                            "x": last_x}
    # At one time, a few seconds of the recording: the run up to the cursor.
    shown = summaries[1]
    assert 5 < shown["position"] < 60 and not shown["ended"]
    lines = [line for line in saved.read_text().splitlines() if not line.startswith("#")]
    assert len(lines) == 1 + shown["position"]
    last = datetime.datetime.fromisoformat(lines[-1].split(",")[0])
    assert last.timestamp() == pytest.approx(shown["x"], abs=1e-6)


def test_a_playing_replay_keeps_the_frame_rate_between_sparse_rows(qtbot, open_app, tmp_path):
    sparse = tmp_path / "sparse.csv"  # a row every 3 s: many frames show nothing new
    sparse.write_text("t,v\n" + "".join(f"{3 * i},{i}\n" for i in range(100)))
    window = open_app(str(sparse), "--replay", "1")
    wait_read(qtbot, window, 100)
    ticks = []
    window.timer.timeout.connect(lambda: ticks.append(time.monotonic()))
    # More than 20 frames in 1.5 s: idle it would tick six times.
    qtbot.waitUntil(lambda: len(ticks) > 20, timeout=1500)
    assert not window.pacer.idle
    window.controls.pause.trigger()
    qtbot.waitUntil(lambda: window.pacer.idle, timeout=WAIT)  # paused: nothing new

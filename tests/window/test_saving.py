"""Saving from the window: Ctrl+E and Ctrl+S with real key events (a stand-in
for the save dialog), and the scripted --export-png / --export-csv runs."""

import multiprocessing
import os
from xml.etree import ElementTree

import numpy as np
import pytest

from tarvinel.stelvane import config, qt_compat
from tarvinel.stelvane.window import export, savekeys
from tarvinel.stelvane.dataset import Dataset

from tests.support.running import run_main, start, summary_in
from tests.support.tables import read_table
from tests.support.userinput import press
from tests.support.window import WAIT, active_window, filled_curves

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt
NAMES = ["time", "a", "z"]


def block(start, n):
    t = np.arange(start, start + n) * 0.5
    return np.column_stack([t, np.sin(t) * 1e-300, np.exp(1j * t)])


# What the producer sends: two finished runs and the current one; values
# that need every digit, a NaN and an infinity, a complex column.
SENT = [block(0, 50), block(50, 30), block(80, 20)]
SENT[0][3, 1] = np.nan
SENT[1][4, 2] = complex(np.inf, -1)


@pytest.fixture
def fed_window(qtbot):
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue)
    queue.put(("PN", NAMES))
    queue.put(("PXY", "time,a"))
    queue.put(("PD", SENT[0]))
    queue.put(("ROLL", None))
    queue.put(("PD", SENT[1]))
    queue.put(("ROLL", None))
    queue.put(("PD", SENT[2]))
    qtbot.waitUntil(lambda: len(win.point_dataset) == len(SENT[2]) and filled_curves(win.history_plot) == [0],
                    timeout=WAIT)
    asked = []

    def ask_path(caption, suggested, filters):
        asked.append((caption, suggested, filters))
        return win.answer

    win.export_keys.ask_path = ask_path
    win.asked = asked
    yield win
    win.close()


@pytest.mark.parametrize("choice", [savekeys.RUN_FILTER, savekeys.HISTORY_FILTER])
def test_ctrl_e_saves_what_the_producer_sent(qtbot, fed_window, tmp_path, choice):
    win = fed_window
    target = tmp_path / "saved"  # no suffix: the chosen filter's is added
    win.answer = (str(target), choice)
    # Even in the pattern field, where a line edit would take Ctrl+E for itself.
    field = win.toolbar.ps.stx if choice == savekeys.RUN_FILTER else None
    press(qtbot, win, Qt.Key.Key_E, win.live_plot, field)
    qtbot.waitUntil(lambda: (tmp_path / "saved.csv").exists(), timeout=5000)
    assert win.asked[0][2] == (savekeys.RUN_FILTER, savekeys.HISTORY_FILTER, savekeys.VISIBLE_FILTER)
    runs = []
    names, columns = read_table(tmp_path / "saved.csv", runs)
    if choice == savekeys.RUN_FILTER:
        assert names == NAMES and runs == [len(SENT[2])]
        expected = SENT[2]
    else:
        assert names == ["run", *NAMES] and runs == [len(SENT[0]), len(SENT[1])]
        assert columns.pop(0).tolist() == [1] * 50 + [2] * 30
        expected = np.concatenate(SENT[:2])
    for j, column in enumerate(columns):
        sent = expected[:, j] if column.dtype.kind == "c" else expected[:, j].real
        assert column.tobytes() == sent.tobytes(), names[j]
    # Written by a thread of its own; the status bar says so when it is done.
    qtbot.waitUntil(lambda: win.status_bar.currentMessage().startswith("saved "), timeout=5000)
    assert win.status_bar.currentMessage().endswith("saved.csv")


def test_a_long_write_leaves_the_window_working(qtbot, fed_window, tmp_path):
    win = fed_window
    win.queue.put(("PD", np.random.default_rng(1).random((400_000, 3))))  # a second to write
    qtbot.waitUntil(lambda: len(win.point_dataset) > 400_000, timeout=WAIT)
    win.answer = (str(tmp_path / "long.csv"), savekeys.RUN_FILTER)
    press(qtbot, win, Qt.Key.Key_E, win.live_plot)
    assert win.status_bar.currentMessage().startswith("saving ")
    # The window takes keys while the file is written; a second data file
    # is refused until the first is done.
    press(qtbot, win, Qt.Key.Key_E, win.live_plot)
    assert win.problems.text.endswith("the last data file is still being written")
    assert not (tmp_path / "long.csv").exists()
    qtbot.waitUntil(lambda: win.status_bar.currentMessage().startswith("saved "), timeout=15_000)
    assert sum(1 for _ in open(tmp_path / "long.csv")) == 2 + len(SENT[2]) + 400_000


def test_ctrl_e_while_paused_saves_what_the_plots_hold(qtbot, fed_window, tmp_path):
    win = fed_window
    win.live_plot.setFocus()
    qtbot.keyClick(win.live_plot, Qt.Key.Key_Space)
    assert win.presenter.paused
    win.queue.put(("PD", block(100, 10)))  # intake goes on
    qtbot.waitUntil(lambda: len(win.point_dataset) == len(SENT[2]) + 10, timeout=WAIT)
    win.answer = (str(tmp_path / "held.csv"), savekeys.RUN_FILTER)
    press(qtbot, win, Qt.Key.Key_E, win.live_plot)
    qtbot.waitUntil((tmp_path / "held.csv").exists, timeout=5000)
    names, columns = read_table(tmp_path / "held.csv")
    assert columns[0].tolist() == SENT[2][:, 0].real.tolist()


@pytest.mark.parametrize("plot_name, choice", [("history", savekeys.PICTURE_FILTERS[1]),
                                               ("live", savekeys.PICTURE_FILTERS[0])])
def test_ctrl_s_saves_the_plot_under_the_pointer(qtbot, fed_window, tmp_path, plot_name, choice):
    win = fed_window
    suffix = ".svg" if "svg" in choice else ".png"
    win.answer = (str(tmp_path / "plot"), choice)
    press(qtbot, win, Qt.Key.Key_S, getattr(win, f"{plot_name}_plot"))
    path = tmp_path / f"plot{suffix}"
    qtbot.waitUntil(path.exists, timeout=5000)
    assert win.asked[0][0] == f"Save the {plot_name} plot"
    assert f"saved the {plot_name} plot" in win.status_bar.currentMessage()
    if suffix == ".svg":
        tree = ElementTree.parse(path)
        paths = [e for e in tree.iter() if e.tag.endswith("path")]
        assert len(paths) >= 3  # axes and a curve at least
        # The column names, shown over the plot in the window, are on the axes.
        texts = ["".join(e.itertext()).strip() for e in tree.iter() if e.tag.endswith("text")]
        assert "time" in texts and "a" in texts
        assert not win.history_plot.plotItem.getAxis("bottom").label.isVisible()
    else:
        image = QtGui.QImage(str(path))
        assert not image.isNull() and image.width() > 200 and image.height() > 100
        curve = QtGui.QColor(config.defualt_colors[config.ridx[0]]).rgb() & 0xFFFFFF
        pixels = {image.pixel(x, y) & 0xFFFFFF for x in range(0, image.width(), 2)
                  for y in range(image.height())}
        assert curve in pixels


def test_a_failed_save_is_a_problem_and_leaves_no_file(qtbot, fed_window, tmp_path):
    win = fed_window
    (tmp_path / "file").write_text("")
    target = tmp_path / "file" / "data.csv"
    win.answer = (str(target), savekeys.RUN_FILTER)
    before = win.problems.count  # the NaN and the infinity sent
    press(qtbot, win, Qt.Key.Key_E, win.history_plot)
    qtbot.waitUntil(lambda: win.problems.count == before + 1, timeout=5000)
    assert win.problems.text == f"could not save {target}: a part of the path is not a directory"
    assert os.listdir(tmp_path) == ["file"]
    # Cancelling the dialog saves nothing and says nothing.
    win.answer = ("", "")
    press(qtbot, win, Qt.Key.Key_S, win.live_plot)
    qtbot.wait(100)
    assert len(win.asked) == 2 and win.problems.count == before + 1
    assert os.listdir(tmp_path) == ["file"]


def test_scripted_exports_write_when_the_time_is_up(tmp_path, qapp):
    png, csv = tmp_path / "live.png", tmp_path / "run.csv"
    app = start("--seconds", "2.5", "--rate", "500", "--trace-rate", "0",
                "--export-png", str(png), "--export-csv", str(csv))
    out, err = app.communicate(timeout=60)
    assert app.returncode == 0, err
    assert out.split() == ["plot:", str(png), "data:", str(csv)]
    assert not QtGui.QImage(str(png)).isNull()
    names, columns = read_table(csv)
    assert names[:2] == ["time", "sweep"] and len(columns[0]) > 100
    assert np.all(np.diff(columns[0]) > 0)


@pytest.mark.parametrize("where, complaint", [
    ("/dev/full", "/dev/full: no space left on the device"),
    ("file/inside", "a part of the path is not a directory"),
])
def test_a_scripted_export_that_fails_says_so_and_exits_1(tmp_path, qapp, capsys, where,
                                                          complaint):
    (tmp_path / "file").write_text("")
    png, csv = tmp_path / "live.png", tmp_path / "run.csv"
    if where == "/dev/full":
        csv = "/dev/full"
    else:
        png = tmp_path / where / "live.png"
    code, out, err = run_main(capsys, "--seconds", "1", "--rate", "500", "--trace-rate", "0",
                              "--export-png", png, "--export-csv", csv)
    assert code == 1
    assert "export failed: could not save" in err and complaint in err
    assert sorted(os.listdir(tmp_path)) == sorted(["file"] + (["live.png"] if where == "/dev/full" else [])
                                                  + (["run.csv"] if where != "/dev/full" else []))


def test_a_saved_history_opens_again_as_runs(tmp_path, qapp, capsys):
    """Saved, opened with `stelvane FILE`, saved again: the same runs, the same numbers."""
    ds = Dataset("points")
    ds.set_column_names(NAMES)
    for sent in SENT:
        ds.append(sent)
        ds.roll()
    saved = tmp_path / "history.csv"
    export.save_history(ds, str(saved))
    again = tmp_path / "again.csv"
    code, out, err = run_main(capsys, saved, "--no-follow", "--until-end", "--seconds", "30",
                              "--export-csv", again, "--summary")
    assert code == 0, err
    summary = summary_in(out)
    assert summary["runs"] == len(SENT) and summary["point_columns"] == ["run", *NAMES]
    names, columns = read_table(again)  # the last run is the current one there
    assert names == ["run", *NAMES] and columns[0].tolist() == [3] * len(SENT[2])
    for j, column in enumerate(columns[1:]):
        assert np.array_equal(column, SENT[2][:, j] if column.dtype.kind == "c" else SENT[2][:, j].real)

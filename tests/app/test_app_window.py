"""The live plot's window with a followed file another process writes: a
time column, --window and the window field, a real pan back with the mouse
and the A key, the statistics, Ctrl+E and --summary over what it shows, and
the window remembered across a restart. A file opens whole (a recording);
the window applies once it grows."""

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.window import savekeys
from tarvinel.stelvane.options import parse_args
from tarvinel.stelvane.protocol import TIME
from tarvinel.stelvane.model.timewindow import parse_window

from tests.support.running import WAIT, run_main, summary_in, write
from tests.support.userinput import on_widget, press, type_pattern
from tests.support.window import curve_data

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt
START = 1_796_000_000.0  # epoch seconds: the "time" column is a time column
STEP = 0.1  # seconds between rows


def table(first, count):
    t = START + STEP * np.arange(first, first + count)
    return np.column_stack([t, np.sin(np.arange(first, first + count) / 7.0)])


def text_of(rows, header=True):
    lines = "".join(f"{t!r},{v!r}\n" for t, v in rows.tolist())
    return ("time,v\n" if header else "") + lines


@pytest.fixture
def followed(tmp_path):
    """A file of 599 rows (60 s of time), written by another process."""
    path = tmp_path / "log.csv"
    write(path, "w", text_of(table(0, 599)))
    return path


def open_growing(qtbot, open_app, followed, *args):
    """The file opened (a recording: shown whole, whatever the window), then
    grown to 600 rows: from then on the live window follows the newest."""
    win = open_app(str(followed), *args)
    wait_shows(qtbot, win, table(0, 599))
    # Grown once the file source has said it read the file to its end.
    qtbot.waitUntil(lambda: (win.watch.recording or {}).get("rows") == 599, timeout=WAIT)
    write(followed, "a", text_of(table(599, 1), header=False))
    return win


def shown(win):
    """The live curve's x, and the visible X range."""
    return curve_data(win.live_plot, 0)[0], win.plot_presenters[0].visible_x()


def in_last(rows, span):
    return rows[rows[:, 0] >= rows[-1, 0] - span]


def drag(qtbot, plot, start: QtCore.QPoint, end: QtCore.QPoint) -> None:
    """A left-button drag over the plot's viewport, as a hand makes it."""
    viewport = plot.viewport()
    qtbot.mousePress(viewport, Qt.MouseButton.LeftButton, pos=start)
    for step in (start + QtCore.QPoint(5, 0), end):
        qtbot.wait(40)  # the scene ignores moves closer together than its rate limit
        point = QtCore.QPointF(step)
        QtWidgets.QApplication.sendEvent(viewport, QtGui.QMouseEvent(
            QtCore.QEvent.Type.MouseMove, point, point, point, Qt.MouseButton.LeftButton,
            Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier))
    qtbot.mouseRelease(viewport, Qt.MouseButton.LeftButton, pos=end)


def wait_shows(qtbot, win, rows):
    """Until the live curve shows exactly the X of `rows`."""
    qtbot.waitUntil(lambda: np.array_equal(shown(win)[0], rows[:, 0]), timeout=WAIT)


def test_a_time_window_follows_a_pan_shows_older_rows_and_a_follows_again(
        qtbot, open_app, followed, tmp_path):
    # (No disk for the run: past --max-rows it drops its oldest rows, as
    # past the disk cap, under the view the user took.)
    win = open_growing(qtbot, open_app, followed, "--window", "10s", "--max-rows", "650",
                       "--disk-cap", "0")
    win.activateWindow()
    qtbot.waitActive(win)  # the window's shortcuts need that
    sent = table(0, 600)
    wait_shows(qtbot, win, in_last(sent, 10))
    assert win.point_dataset.described.kind(0) == TIME and win.window_field.field.text() == "10s"
    x, (low, high) = shown(win)
    assert len(x) == 101 and x[0] == sent[-1, 0] - 10
    assert low <= x[0] and x[-1] <= high and high - low < 10 * 1.1  # the view is the span
    # The statistics read the rows shown; Ctrl+E saves them with all their columns.
    win.controls.stats.trigger()
    qtbot.waitUntil(lambda: [s.count for _, s, _ in win.stats.curves(win.plot_presenters[0])] == [101])
    win.export_keys.ask_path = lambda *_: (str(tmp_path / "visible"), savekeys.VISIBLE_FILTER)
    press(qtbot, win, Qt.Key.Key_E, win.live_plot)
    qtbot.waitUntil(lambda: win.status_bar.currentMessage().startswith("saved "), timeout=5000)
    lines = [line for line in (tmp_path / "visible.csv").read_text().splitlines()
             if line and not line.startswith("#")]
    assert lines[0] == "time,v"
    assert [float(line.split(",")[1]) for line in lines[1:]] == in_last(sent, 10)[:, 1].tolist()

    # A drag to the right takes the view back in time: the plot stops
    # following and shows the older rows in view, from memory.
    live = win.live_plot
    middle = on_widget(live, (low + high) / 2, 0.0)
    drag(qtbot, live, middle, middle + QtCore.QPoint(int(live.plotItem.vb.width()) // 2, 0))
    qtbot.waitUntil(lambda: shown(win)[1][0] < low - 3)
    assert not live.following()
    qtbot.waitUntil(lambda: shown(win)[0][0] < shown(win)[1][0])  # rows drawn past the left edge
    x, (view_low, view_high) = shown(win)
    older = sent[(sent[:, 0] >= view_low) & (sent[:, 0] <= view_high), 0]
    assert older[0] < sent[-1, 0] - 10 and set(older) <= set(x)
    # New rows beyond the view leave it where the user took it.
    write(followed, "a", text_of(table(600, 100), header=False))
    qtbot.waitUntil(lambda: win.point_dataset.rows_stored == 700, timeout=WAIT)
    assert win.point_dataset.dropped == 50  # the run keeps its newest 650 rows
    qtbot.wait(100)
    assert shown(win)[1] == (view_low, view_high) and not live.following()

    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_A)  # following again: the window of the newest rows
    wait_shows(qtbot, win, in_last(table(0, 700), 10))
    assert live.following()
    write(followed, "a", text_of(table(700, 100), header=False))  # followed as the run drops rows
    wait_shows(qtbot, win, in_last(table(0, 800), 10))


def test_the_window_field_applies_refuses_and_is_remembered(qtbot, open_app, followed):
    win = open_growing(qtbot, open_app, followed)
    sent = table(0, 600)
    wait_shows(qtbot, win, sent)  # rows: the newest --live-rows, all 600 here
    field = win.window_field.field
    type_pattern(qtbot, field, "5s")
    wait_shows(qtbot, win, in_last(sent, 5))
    type_pattern(qtbot, field, "120 rows")
    wait_shows(qtbot, win, sent[-120:])
    for bad in ("fast", "0s", "10 m"):
        type_pattern(qtbot, field, bad)
        assert win.status_bar.currentMessage() == (
            f"window not changed: {str(_refusal(bad))}")
        assert field.text() == "120 rows" and win.live_window.text == "120 rows"
    box = win.window_field.box
    box.setCurrentIndex(box.findText("10s"))
    qtbot.keyClick(box, Qt.Key.Key_Down)  # the next of the list's choices
    assert field.text() == "30s" and win.live_window.text == "30s"
    wait_shows(qtbot, win, in_last(sent, 30))
    type_pattern(qtbot, field, "2.5")  # in X's units: seconds of a time column
    wait_shows(qtbot, win, in_last(sent, 2.5))
    win.close()

    again = open_app(str(followed))
    assert again.window_field.field.text() == "2.5" and again.live_window.text == "2.5"
    wait_shows(qtbot, again, sent)  # opened again: the file whole, whatever the window
    again.close()
    given = open_app(str(followed), "--window", "30s")  # the command line wins
    assert given.window_field.field.text() == "30s" and given.live_window.text == "30s"


def _refusal(text):
    with pytest.raises(ValueError) as refused:
        parse_window(text)
    return refused.value


def test_the_summary_gives_the_window_and_its_rows(followed, qapp, capsys):
    # Standard input is data still arriving: the window, not the whole (a file's).
    write(followed, "a", text_of(table(599, 1), header=False))
    with open(followed) as rows:
        code, out, err = run_main(capsys, "-", "--window", "10s", "--until-end", "--seconds", "30",
                                  "--summary", stdin=rows.fileno())
    assert code == 0, err
    summary = summary_in(out)
    assert (summary["window"], summary["window_rows"]) == ("10s", 101)
    low, high = summary["live_x"]
    assert low <= START + 49.9 and START + 59.9 <= high < START + 61
    assert summary["stats"][0]["count"] == 101


GOOD = [("rows", None, None), ("10s", 10.0, None), ("250ms", 0.25, None), ("5min", 300.0, None),
        ("2h", 7200.0, None), ("1d", 86400.0, None), (" 12.5 ", 12.5, None),
        ("1e3s", 1000.0, None), ("500 rows", None, 500), ("500rows", None, 500),
        ("1 row", None, 1), ("1MIN", 60.0, None)]
BAD = [("", "a number (in X's units)"), ("fast", "a number (in X's units)"),
       ("10 m", "ms, s, min, h, d"), ("-1s", "a number"), ("0s", "greater than 0"),
       ("1e999s", "finite"), ("1.5 rows", "a whole number of rows"), ("1..2s", "is no number"),
       ("10 s s", "a number")]


def test_window_texts_name_a_window_or_are_refused_with_a_reason(capsys):
    for text, span, rows in GOOD:
        window = parse_window(text)
        assert (window.span, window.rows, window.text) == (span, rows, text.strip()), text
        assert window.row_count(20_000) == (rows or 20_000)
        assert parse_args([f"--window={text}"]).window == window
    for text, reason in BAD:
        with pytest.raises(ValueError, match="is no window") as refused:
            parse_window(text)
        assert reason in str(refused.value), text
        with pytest.raises(SystemExit):
            parse_args([f"--window={text}"])
        assert f"stelvane: error: argument --window: {refused.value}" in capsys.readouterr().err
    assert parse_args([]).window is None  # the remembered window, else rows

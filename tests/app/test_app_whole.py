"""A recording shows whole: a file opens fitted to every row it holds
(followed or not), a followed file that grows then follows its newest rows,
a file read anew is whole again; a Touchstone file opens in Traces; a file
longer than --max-rows keeps every row (the columnar cache), and what
--max-rows drops of rows written later is said in the status bar and in
--summary's "kept"."""

import os

import numpy as np
import pytest

from tests.support.running import WAIT, write
from tests.support.window import curve_data

LIVE_ROWS = 500
SPIKE = 100.0


def rows(first, count, spike_at=None):
    """t and a slow sine; a spike at row `spike_at`."""
    t = np.arange(first, first + count, dtype=np.float64)
    v = np.sin(t / 50.0)
    if spike_at is not None:
        v[spike_at - first] = SPIKE
    return np.column_stack([t, v])


def text_of(table, header=True):
    return ("t,v\n" if header else "") + "".join(f"{t!r},{v!r}\n" for t, v in table.tolist())


@pytest.fixture
def recording(tmp_path):
    """A file of 3,000 rows (six times --live-rows) with a spike in the middle."""
    path = tmp_path / "recording.csv"
    write(path, "w", text_of(rows(0, 3000, spike_at=1500)))
    return path


def rows_read(win):
    """The rows the file source says it read; None while it reads or before."""
    return win.summary().get("recording", {}).get("rows")


def live(win):
    """The live curve's x and y, the visible X range, the rows behind the curve."""
    presenter = win.plot_presenters[0]
    return (*curve_data(win.live_plot, 0), presenter.visible_x(), presenter.drawn_rows)


@pytest.mark.parametrize("follow", [[], ["--no-follow"]], ids=["followed", "read-once"])
def test_a_file_opens_whole_and_summary_says_what_it_read(qtbot, open_app, recording, follow):
    win = open_app(str(recording), "--live-rows", str(LIVE_ROWS), *follow)
    qtbot.waitUntil(lambda: live(win)[3] == 3000, timeout=WAIT)
    x, y, (low, high), _ = live(win)
    # Every row is behind the curve, thinned; the spike in the middle shows.
    assert x[0] == 0 and x[-1] == 2999 and SPIKE in y
    assert low <= 0 and 2999 <= high and high - low < 2999 * 1.2
    assert win.live_plot.following() and win.selection.mode == "P"
    qtbot.waitUntil(lambda: rows_read(win) is not None, timeout=WAIT)
    summary = win.summary()
    assert (summary["points"], summary["kept"], summary["window_rows"]) == (3000, 3000, 3000)
    recording = summary.pop("recording")
    assert (recording["rows"], recording["columns"]) == (3000, 2)
    assert 0 <= recording["read_seconds"] < 30 and 0 < recording["first_picture_seconds"] < 60
    assert [s["max"] for s in summary["stats"]] == [SPIKE]  # the statistics read every row
    assert win.status_bar.dropped_label.isHidden()
    # A window the user chooses applies at once, file or not.
    assert win.set_live_window("100 rows") is None
    qtbot.waitUntil(lambda: live(win)[3] == 100, timeout=WAIT)
    assert live(win)[0][-1] == 2999


def test_a_followed_file_that_grows_follows_its_newest_rows_and_is_whole_when_rewritten(
        qtbot, open_app, recording):
    win = open_app(str(recording), "--live-rows", str(LIVE_ROWS))
    qtbot.waitUntil(lambda: rows_read(win) == 3000, timeout=WAIT)
    qtbot.waitUntil(lambda: live(win)[3] == 3000, timeout=WAIT)

    write(recording, "a", text_of(rows(3000, 10), header=False))  # the file grows
    qtbot.waitUntil(lambda: live(win)[3] == LIVE_ROWS, timeout=WAIT)
    x, _, (low, high), _ = live(win)
    assert x[0] == 3010 - LIVE_ROWS and x[-1] == 3009  # the newest --live-rows rows
    assert low > 2000 and high >= 3009 and win.live_plot.following()
    assert win.summary()["live_x"][0] > 2000

    # Replaced by a new file (written aside, then renamed over it, so that
    # it is whole when it is read): a new run, read whole again, then followed.
    (recording.parent / "new.csv").write_text(text_of(rows(0, 800)))
    os.replace(recording.parent / "new.csv", recording)
    qtbot.waitUntil(lambda: win.point_dataset.run_number == 2 and live(win)[3] == 800,
                    timeout=WAIT)
    assert live(win)[0][0] == 0
    qtbot.waitUntil(lambda: rows_read(win) == 800, timeout=WAIT)
    write(recording, "a", text_of(rows(800, 1), header=False))
    qtbot.waitUntil(lambda: live(win)[3] == LIVE_ROWS and live(win)[0][-1] == 800, timeout=WAIT)


def test_a_file_longer_than_max_rows_keeps_every_row_and_rows_written_later_drop_said(
        qtbot, open_app, recording, cache_home):
    win = open_app(str(recording), "--max-rows", "1000")
    label = win.status_bar.dropped_label
    qtbot.waitUntil(lambda: rows_read(win) == 3000 and live(win)[3] == 3000, timeout=WAIT)
    summary = win.summary()
    assert (summary["points"], summary["kept"]) == (3000, 3000)  # mapped from the cache
    assert label.isHidden() and SPIKE in live(win)[1]
    assert list((cache_home / "tarvinel-stelvane").iterdir())
    # Rows written later go to memory: the newest --max-rows are kept, the rest said.
    write(recording, "a", text_of(rows(3000, 500), header=False))
    qtbot.waitUntil(lambda: label.text() == "2,500 older rows dropped: --max-rows 1000",
                    timeout=WAIT)
    assert win.summary()["kept"] == 1000
    qtbot.waitUntil(lambda: live(win)[0][-1] == 3499, timeout=WAIT)
    write(recording, "w", "t,w\n1,2\n")
    qtbot.waitUntil(lambda: win.summary()["kept"] == 1 and label.isHidden(), timeout=WAIT)
    assert win.point_dataset.run_number == 2


def touchstone(path, freqs):
    """A two-port file in GHz, real and imaginary parts: S21 = freq / 10."""
    lines = ["! an amplifier", "# GHz S RI R 50"]
    for f in freqs.tolist():
        lines.append(f"{f!r} 0.1 0 {f / 10!r} 0 0.01 0 0.2 0")
    path.write_text("\n".join(lines) + "\n")


def test_a_touchstone_file_opens_in_traces_showing_its_trace_once(qtbot, open_app, tmp_path):
    freqs = np.linspace(1.0, 6.0, 51)
    touchstone(tmp_path / "amp.s2p", freqs)
    win = open_app(str(tmp_path / "amp.s2p"))
    qtbot.waitUntil(lambda: win.selection.mode == "T" and len(curve_data(win.live_plot, 0)[0]) > 0,
                    timeout=WAIT)
    x, y = curve_data(win.live_plot, 0)
    assert win.toolbar.tb.isChecked() and win.toolbar.xypairs == [("freq", "S21")]
    assert np.allclose(x, freqs * 1e9) and np.allclose(y, freqs / 10)  # the magnitude of S21
    qtbot.waitUntil(lambda: rows_read(win) == 51, timeout=WAIT)
    assert win.summary()["recording"]["columns"] == 5
    # The user's own switch back to Points stays: the switch came once.
    win.toolbar.pb.setChecked(True)
    qtbot.wait(200)
    assert win.selection.mode == "P" and win.toolbar.pb.isChecked()


def test_a_file_of_points_and_traces_stays_in_points(qtbot, open_app, tmp_path):
    path = tmp_path / "mixed.csv"
    path.write_text("t,v\n0,1\n1,2\n#@trace f,a\n1,2\n2,3\n#@end\n2,3\n")
    win = open_app(str(path), "--no-follow")
    qtbot.waitUntil(lambda: win.summary()["traces"] == 1 and win.summary()["ended"], timeout=WAIT)
    qtbot.wait(100)
    assert win.selection.mode == "P"

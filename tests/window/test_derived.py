"""What the window derives from the rows it shows: the statistics table, the
spectrum plot, Ctrl+E's visible range and --summary's live_x and stats,
with real key events, real view changes and a real queue."""

import json
import multiprocessing

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.window import savekeys
from tarvinel.stelvane.presenters import spectrumplot
from tarvinel.stelvane.protocol import NUMBER, TIME, Columns
from tarvinel.stelvane.model.columnkinds import PLAIN
from tarvinel.stelvane.model.statistics import figure_texts

from tests.support.running import stelvane, summary_of
from tests.support.tables import read_table
from tests.support.userinput import press
from tests.support.window import WAIT, active_window, curve_data, filled_curves, put_all

Qt = qt_compat.QtCore.Qt
RATE = 1000.0  # rows per second of t
FIRST_RUNS = (700, 500)  # finished runs, then the current run of CURRENT rows
CURRENT = 4000


def rows(start, n):
    """t in seconds at RATE; a = 2 sin(2 pi 50 t), b = t squared with a gap."""
    t = (start + np.arange(n)) / RATE
    b = t * t
    b[::97] = np.nan
    return np.column_stack([t, 2.0 * np.sin(2 * np.pi * 50 * t), b])


@pytest.fixture
def fed(qtbot, request):
    """A window fed two finished runs and the current one of rows(); the
    column names are `request.param` if given (protocol.Columns with kinds)."""
    queue = multiprocessing.get_context("spawn").Queue()
    win = active_window(qtbot, queue)
    starts = np.cumsum([0, *FIRST_RUNS])
    blocks = [rows(start, n) for start, n in zip(starts, (*FIRST_RUNS, CURRENT))]
    items = [("PN", getattr(request, "param", ["t", "a", "b"])), ("PXY", "t,(a|b)")]
    for block in blocks[:-1]:
        items += [("PD", block), ("ROLL", None)]
    put_all(queue, [*items, ("PD", blocks[-1])])
    qtbot.waitUntil(lambda: len(win.point_dataset) == CURRENT
                    and filled_curves(win.history_plot) == [0, 1], timeout=WAIT)
    win.sent = np.concatenate(blocks)
    yield win
    win.close()


def expected(x, y, low, high):
    shown = y[(x >= low) & (x <= high) & np.isfinite(y)]
    return len(shown), shown.min(), shown.max(), shown.mean(), shown.std(), shown[-1]


def table_lines(win, plot_name):
    return {cells[1]: cells for cells in win.stats_table.rows() if cells[0] == plot_name}


def test_the_statistics_follow_the_visible_range_of_each_plot(qtbot, fed):
    live, history = fed.live_plot, fed.history_plot
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_S)
    assert fed.controls.stats.isChecked() and fed.stats_table.isVisible()
    live.setXRange(2.0, 3.5, padding=0)
    history.setXRange(0.3, 0.95, padding=0)  # across the border of the two finished runs
    sent = fed.sent
    current = sent[sum(FIRST_RUNS):]
    finished = sent[:sum(FIRST_RUNS)]
    for plot_name, data, (low, high) in (("live", current, fed.plot_presenters[0].visible_x()),
                                         ("history", finished, fed.plot_presenters[1].visible_x())):
        figures = {name: expected(data[:, 0], data[:, j], low, high)
                   for j, name in ((1, "a"), (2, "b"))}
        qtbot.waitUntil(lambda: {name: int(cells[2].replace(",", ""))
                                 for name, cells in table_lines(fed, plot_name).items()}
                        == {name: f[0] for name, f in figures.items()})
        presenter = next(f for f in fed.plot_presenters if f.name == plot_name)
        for key, stats, kind in fed.stats.curves(presenter):
            count, low_y, high_y, mean, std, last = figures[stats.name]
            assert (stats.count, stats.min, stats.max, stats.last) == (count, low_y, high_y, last)
            assert stats.mean == pytest.approx(mean, rel=1e-12, abs=1e-12)
            assert stats.std == pytest.approx(std, rel=1e-9)
            # Each line in its curve's colour, the figures as the table writes them.
            cells = table_lines(fed, plot_name)[stats.name]
            assert cells[2:] == list(figure_texts(stats, PLAIN).values())
            row = fed.stats_table.rows().index(cells)
            assert fed.stats_table.item(row, 1).foreground().color().name() == live.colors[key]

    # All of the history in view again: its finished runs are summed up
    # whole, away from the window's thread, and the table shows them.
    qtbot.mouseClick(fed.toolbar.AR, Qt.MouseButton.LeftButton)
    for j, name in ((1, "a"), (2, "b")):
        y = finished[:, j]
        figures = expected(finished[:, 0], y, -np.inf, np.inf)
        qtbot.waitUntil(lambda: table_lines(fed, "history")[name][2] == f"{figures[0]:,}")
        stats = next(s for _, s, _ in fed.stats.curves(fed.plot_presenters[1]) if s.name == name)
        assert (stats.min, stats.max, stats.last) == figures[1:3] + figures[5:]
        assert stats.std == pytest.approx(figures[4], rel=1e-9)

    qtbot.mouseClick(fed.controls.buttons["Stats"], Qt.MouseButton.LeftButton)
    assert not fed.stats_table.isVisible()


def spectrum_peak(win):
    frequency, amplitude = curve_data(win.spectrum.plot, 0)
    i = int(np.argmax(amplitude))
    return frequency, amplitude, frequency[i], amplitude[i]


@pytest.mark.parametrize("fed", [Columns(["t", "a", "b"], kinds=(TIME, NUMBER, NUMBER))],
                         indirect=True)  # t a time column: the frequency in Hz
def test_the_spectrum_shows_the_live_sine_and_is_made_only_when_needed(qtbot, fed, monkeypatch):
    made = []
    real = spectrumplot.amplitude_spectrum
    monkeypatch.setattr(spectrumplot, "amplitude_spectrum", lambda x, y: made.append(len(x)) or real(x, y))
    spectrum = fed.spectrum.plot
    qtbot.wait(200)
    assert not spectrum.isVisible() and not made  # hidden: nothing is made

    live = fed.live_plot
    live.setFocus()
    qtbot.keyClick(live, Qt.Key.Key_P)
    assert fed.controls.spectrum.isChecked()
    qtbot.waitUntil(lambda: filled_curves(spectrum) == [0, 1])
    frequency, _, top, amplitude = spectrum_peak(fed)
    assert top == pytest.approx(50.0, abs=RATE / CURRENT) and amplitude == pytest.approx(2.0, rel=1e-3)
    assert frequency[-1] == pytest.approx(RATE / 2)
    assert spectrum.XLabel.text() == "X:frequency [Hz]" and spectrum.YLabel.text() == "Y:amplitude"
    assert live.XLabel.text() == "X:t"  # the live plot keeps its own axes, a time axis
    assert live.plotItem.getAxis("bottom") is not spectrum.plotItem.getAxis("bottom")
    qtbot.wait(300)  # the window's layout has settled around the new plot
    settled = len(made)
    qtbot.wait(300)  # some 18 frames
    assert len(made) == settled  # nothing changed: nothing made again

    live.setXRange(1.9, 2.8995, padding=0)  # the 1,000 rows of a second: 1 Hz apart
    qtbot.waitUntil(lambda: len(spectrum_peak(fed)[0]) < CURRENT / 4)
    frequency, _, top, amplitude = spectrum_peak(fed)
    assert frequency[1] - frequency[0] == pytest.approx(1.0)
    assert top == pytest.approx(50.0) and amplitude == pytest.approx(2.0, rel=1e-3)

    qtbot.keyClick(live, Qt.Key.Key_D)
    qtbot.waitUntil(lambda: spectrum.YLabel.text() == "Y:power [dB]")
    qtbot.waitUntil(lambda: spectrum_peak(fed)[3] == pytest.approx(20 * np.log10(2.0), abs=0.01))
    qtbot.mouseClick(fed.controls.buttons["Spectrum"], Qt.MouseButton.LeftButton)
    assert not spectrum.isVisible()


def test_ctrl_e_saves_the_visible_range_with_all_columns(qtbot, fed, tmp_path):
    fed.live_plot.setXRange(2.25, 2.5, padding=0)
    qtbot.waitUntil(lambda: fed.plot_presenters[0].visible_x() == (2.25, 2.5))
    fed.answer = (str(tmp_path / "visible"), savekeys.VISIBLE_FILTER)
    fed.export_keys.ask_path = lambda caption, suggested, filters: fed.answer
    press(qtbot, fed, Qt.Key.Key_E, fed.live_plot)
    qtbot.waitUntil(lambda: fed.status_bar.currentMessage().startswith("saved "), timeout=5000)
    names, columns = read_table(tmp_path / "visible.csv")
    current = fed.sent[sum(FIRST_RUNS):]
    inside = current[(current[:, 0] >= 2.25) & (current[:, 0] <= 2.5)]
    assert names == ["t", "a", "b"] and len(inside) == 251
    for j, column in enumerate(columns):
        assert column.tobytes() == inside[:, j].tobytes()
    assert fed.status_bar.currentMessage() == (
        f"saved the 251 visible rows of points to {tmp_path / 'visible.csv'}")


def test_the_summary_gives_the_live_range_and_the_statistics(tmp_path):
    t = np.arange(500) / 10.0
    table = np.column_stack([t, np.sqrt(t), np.cos(t)])
    path = tmp_path / "run.csv"
    path.write_text("t,r,c\n" + "".join(",".join(map(repr, row)) + "\n" for row in table.tolist()))
    summary = summary_of(stelvane(str(path), "--no-follow", seconds=30, until_end=True))
    low, high = summary["live_x"]
    assert low <= 0.0 and 49.9 <= high < 60  # following the data: all of it in view
    assert [s["name"] for s in summary["stats"]] == ["r", "c"]
    for stats, y in zip(summary["stats"], table[:, 1:].T):
        assert stats["count"] == 500 and (stats["min"], stats["max"]) == (y.min(), y.max())
        assert stats["last"] == y[-1] and stats["mean"] == pytest.approx(y.mean(), rel=1e-12)
        assert stats["std"] == pytest.approx(y.std(), rel=1e-9)
    assert json.loads(json.dumps(summary)) == summary

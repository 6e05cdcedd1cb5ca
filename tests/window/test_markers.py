"""Text markers: M at the pointer's x with a typed text (or the x itself),
drawn on every plot of that X, listed in the panel and removed from it,
saved with Ctrl+E's data as #@marker lines, in --summary, and in a saved
picture."""

import queue as queue_module

import numpy as np
import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.formats import make_reader
from tarvinel.stelvane.formats.markers import Marker, marker_line, parse_marker
from tarvinel.stelvane.window import savekeys

from tests.support.userinput import hover, on_widget
from tests.support.window import WAIT, active_window, put_all

QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets
Qt = QtCore.Qt
T = np.arange(100, dtype=float)


@pytest.fixture
def shown(qtbot):
    """A window showing a finished run and the current one of t against v:
    the live and the history plot share the X t."""
    queue = queue_module.Queue()
    win = active_window(qtbot, queue)
    rows = np.column_stack([T, np.sin(T / 5)])
    put_all(queue, [("PN", ["t", "v"]), ("PXY", "t,v"), ("PD", rows), ("ROLL", None),
                    ("PD", rows)])
    qtbot.waitUntil(lambda: win.history_plot.isVisible()
                    and win.plot_presenters[1].frame is not None, timeout=WAIT)
    yield win
    win.close()


def drop_marker(qtbot, win, x, text):
    """The pointer over the live plot at `x`, M, `text` typed into the input, Return."""
    plot = win.live_plot
    hover(plot, on_widget(plot, x, 0.0))
    qtbot.waitUntil(lambda: win.readouts[0].scene_pos is not None, timeout=WAIT)
    plot.setFocus()
    qtbot.keyClick(plot, Qt.Key.Key_M)
    qtbot.waitUntil(lambda: win.markers.dialog is not None and win.markers.dialog.isVisible(),
                    timeout=WAIT)
    field = win.markers.dialog.findChild(QtWidgets.QLineEdit)
    qtbot.keyClicks(field, text)
    qtbot.keyClick(field, Qt.Key.Key_Return)
    qtbot.waitUntil(lambda: not win.markers.dialog.isVisible(), timeout=WAIT)


def lines_on(plot):
    from pyqtgraph import InfiniteLine
    return [item for item in plot.plotItem.vb.childGroup.childItems()
            if isinstance(item, InfiniteLine) and getattr(item, "label", None) is not None
            and item.isVisible()]  # (the cursors' lines wait hidden)


def test_m_drops_a_marker_drawn_on_every_plot_of_its_x_and_listed(qtbot, shown):
    win = shown
    win.live_plot.setFocus()
    qtbot.keyClick(win.live_plot, Qt.Key.Key_M)  # the pointer on no plot yet: said, not asked
    assert "point at a plot and press M" in win.status_bar.currentMessage()
    assert win.markers.dialog is None
    drop_marker(qtbot, win, 40, "valve opened")
    drop_marker(qtbot, win, 70, "")  # empty: the x itself
    panel = win.markers.panel
    assert panel.isVisible() and panel.list.count() == 2
    first = panel.list.item(0).text()
    assert first.startswith("valve opened  (t ") and float(first[17:-1]) == pytest.approx(40, abs=1)
    for plot in (win.live_plot, win.history_plot):
        drawn = lines_on(plot)
        assert [line.label.format for line in drawn][0] == "valve opened"
        assert abs(drawn[0].value() - 40) < 1 and abs(drawn[1].value() - 70) < 1
    assert float(win.markers.markers.items[1].text) == pytest.approx(70, abs=1)
    assert lines_on(win.spectrum.plot) == []  # the spectrum's X is another

    panel.list.setCurrentRow(0)
    panel.list.setFocus()
    qtbot.keyClick(panel.list, Qt.Key.Key_Delete)
    assert panel.list.count() == 1 and len(lines_on(win.live_plot)) == 1
    summary = win.summary()["markers"]
    assert len(summary) == 1 and summary[0]["x_name"] == "t"


def test_markers_go_with_the_saved_data_and_into_a_saved_picture(qtbot, shown, tmp_path):
    win = shown
    drop_marker(qtbot, win, 25, 'pump "B", on')
    path = tmp_path / "run.csv"
    win.export_keys.ask_path = lambda *_: (str(path), savekeys.RUN_FILTER)
    qtbot.keyClick(win, Qt.Key.Key_E, Qt.KeyboardModifier.ControlModifier)
    qtbot.waitUntil(path.exists, timeout=WAIT)
    win.export_keys.wait()
    text = path.read_text()
    marker_lines = [line for line in text.splitlines() if line.startswith("#@marker ")]
    assert len(marker_lines) == 1
    read = parse_marker(marker_lines[0][len("#@marker "):])
    assert read.x_name == "t" and read.text == 'pump "B", on'
    assert read == win.markers.markers.items[0]  # the place exactly, as a float reads back

    picture = tmp_path / "live.svg"
    win.export_keys.ask_path = lambda *_: (str(picture), savekeys.PICTURE_FILTERS[1])
    # Whichever plot the pointer is on (else the live one): both show the marker.
    qtbot.keyClick(win, Qt.Key.Key_S, Qt.KeyboardModifier.ControlModifier)
    qtbot.waitUntil(picture.exists, timeout=WAIT)
    assert "pump" in picture.read_text()


class Taken:
    def __init__(self):
        self.markers = []

    def marker(self, *args):
        self.markers.append(Marker(*args))

    def __getattr__(self, name):
        return lambda *args, **kwargs: None


@pytest.mark.parametrize("head,row", [
    ("t,v", "1.5,2"),                                          # plain numbers: the text reader
    ("time,v", "2026-12-10T10:00:00+01:00,2"),                # times: the table's road
])
def test_the_readers_read_marker_lines_back_and_report_bad_ones(head, row):
    marker = Marker(head.split(",")[0], 1765357200.25, "a, \"quoted\" text")
    text = f"{marker_line(marker)}\n{head}\n{row}\n{row}\n#@marker t,soon,x\n"
    taken, problems = Taken(), []
    reader = make_reader(taken, problems.append)
    reader.take(text.encode())
    reader.finish()
    assert taken.markers == [marker]
    assert len(problems) == 1 and "a marker's place is a number" in problems[0]

"""Markers from a source: a data file's #@marker lines, opened as a user
opens it, and a producer script's feed.marker; the window lists and draws
them, and --summary gives them."""

from pyqtgraph import InfiniteLine

from tests.support.window import WAIT


def test_a_saved_file_opened_again_shows_its_markers(open_app, qtbot, tmp_path):
    path = tmp_path / "marked.csv"
    path.write_text("# stelvane points: run 1, 4 rows\n#@marker t,3.0,start\n"
                    "t,v\n1,1\n2,4\n3,9\n4,16\n")
    win = open_app(str(path), "--no-follow")
    qtbot.waitUntil(lambda: win.markers.panel.list.count() == 1, timeout=WAIT)
    assert win.markers.panel.list.item(0).text() == "start  (t 3)"
    vb = win.live_plot.plotItem.vb
    qtbot.waitUntil(lambda: [item.value() for item in vb.childGroup.childItems()
                             if isinstance(item, InfiniteLine)
                             and getattr(item, "label", None) is not None
                             and item.isVisible()] == [3.0], timeout=WAIT)
    assert win.summary()["markers"] == [{"x_name": "t", "x": 3.0, "text": "start"}]


def test_a_script_s_markers_reach_the_window(open_app, qtbot, tmp_path):
    script = tmp_path / "marking.py"
    script.write_text("def produce(feed):\n    feed.columns(['t', 'v'])\n"
                      "    feed.rows([[0, 1], [1, 2], [2, 3]])\n"
                      "    feed.marker('t', 1, 'heater on')\n")
    win = open_app(str(script))
    qtbot.waitUntil(lambda: win.summary()["ended"], timeout=WAIT)
    qtbot.waitUntil(lambda: win.markers.panel.list.count() == 1, timeout=WAIT)
    assert win.summary()["markers"] == [{"x_name": "t", "x": 1.0, "text": "heater on"}]

"""A data file with #@marker lines, opened as a user opens it: the window
lists and draws its markers, and --summary gives them."""

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
                             and getattr(item, "label", None) is not None] == [3.0], timeout=WAIT)
    assert win.summary()["markers"] == [{"x_name": "t", "x": 3.0, "text": "start"}]

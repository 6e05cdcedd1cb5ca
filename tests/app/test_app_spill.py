"""A followed file that grows past --max-rows: every row stays reachable
(the run goes on on disk), or with --disk-cap 0 the older rows are dropped
and the status bar says so."""

import pytest

from tests.support.running import write

WAIT = 15_000


def text(first, count, header=False):
    rows = "".join(f"{i},{i % 7}\n" for i in range(first, first + count))
    return ("t,v\n" if header else "") + rows


@pytest.mark.parametrize("cap, kept, said", [
    ("10", 3000, ""), ("0", 1000, "2,000 older rows dropped: --max-rows 1000")])
def test_a_live_run_past_max_rows(qtbot, open_app, tmp_path, cap, kept, said):
    path = tmp_path / "grows.csv"
    write(path, "w", text(0, 500, header=True))
    win = open_app(str(path), "--max-rows", "1000", "--disk-cap", cap)
    qtbot.waitUntil(lambda: win.summary()["points"] == 500, timeout=WAIT)
    write(path, "a", text(500, 2500))
    qtbot.waitUntil(lambda: win.summary()["points"] == 3000, timeout=WAIT)
    assert win.summary()["kept"] == kept
    assert win.point_dataset.column("t")[0] == 3000 - kept  # the first row reachable
    label = win.status_bar.dropped_label
    qtbot.waitUntil(lambda: label.text() == said if said else label.isHidden(), timeout=WAIT)

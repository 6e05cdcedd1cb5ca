"""--limit from the command line: the crossings of a file's curve in
--summary's limits, times as seconds since the epoch; a limit that is none
ends the start with argparse's status 2 and the reason."""

import numpy as np
import pytest

from tarvinel.stelvane.app import main

from tests.support.crossings import walked
from tests.support.running import WAIT


def test_the_summary_gives_each_limit_over_a_file_with_times(qtbot, open_app, tmp_path):
    t = 1_790_000_000.0 + np.arange(300) * 0.5
    v = np.sin(np.arange(300) / 7.0) * 3.0
    path = tmp_path / "run.csv"
    path.write_text("time,v\n" + "".join(f"{ti!r},{vi!r}\n" for ti, vi in zip(t.tolist(), v.tolist())))
    window = open_app(str(path), "--no-follow", "--limit", "v=2", "--limit", "w = 1")
    crossed = walked(t, v, 2.0)
    qtbot.waitUntil(lambda: window.summary()["limits"][0]["crossings"] == len(crossed), timeout=WAIT)
    assert window.summary()["limits"] == [
        {"curve": "v", "value": 2.0, "x": "time", "crossings": len(crossed),
         "first": pytest.approx(crossed[0], abs=1e-6), "last": pytest.approx(crossed[-1], abs=1e-6)},
        {"curve": "w", "value": 1.0, "x": None, "crossings": 0, "first": None, "last": None}]
    qtbot.waitUntil(lambda: window.status_bar.limits_label.full_text
                    == f"crossings v {len(crossed)} · w 0")  # at the next refresh of the bar


@pytest.mark.parametrize("given, reason", [
    (["--limit", "v"], "argument --limit: 'v' is no NAME=VALUE (e.g. volts=4.5)"),
    (["--limit", "v=inf"], "argument --limit: v: a limit is a finite number, not inf"),
    (["--limit", "v=1", "--limit", "v=2"], "--limit: the curve 'v' has two limits (one a curve)"),
])
def test_a_limit_that_is_none_ends_the_start_with_its_reason(capsys, given, reason):
    with pytest.raises(SystemExit) as ended:
        main(given)
    assert ended.value.code == 2
    assert capsys.readouterr().err.splitlines()[-1].endswith(f"error: {reason}")

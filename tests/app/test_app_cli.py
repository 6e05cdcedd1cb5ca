"""`python -m tarvinel.stelvane` as a user starts it: a real process on the
test's X display, with its producer process; and its main() in this
process, where another window is open too."""

import signal
import time

import numpy as np
import pyqtgraph as pg
import pytest

from tarvinel.stelvane import config, qt_compat

from tests.support.running import (children, is_producer, run_main, start, stelvane, summary_of,
                                   wait_gone)


def test_timed_run_writes_a_screenshot_with_live_curves_and_exits(tmp_path, qapp):
    shot = tmp_path / "docs" / "shot.png"
    app = start("--seconds", "3", "--screenshot", str(shot), "--rate", "1000")
    out, err = app.communicate(timeout=60)
    assert app.returncode == 0, err
    assert out.strip() == f"screenshot: {shot}"
    image = qt_compat.QtGui.QImage(str(shot))
    assert image.width() >= 800 and image.height() >= 500
    # The first curve's colour is on screen: the live plot drew data.
    curve = qt_compat.QtGui.QColor(config.defualt_colors[config.ridx[0]])
    image = image.convertToFormat(qt_compat.QtGui.QImage.Format.Format_RGB32)
    blue_green_red = pg.functions.ndarray_from_qimage(image)[::2, ::2, :3].astype(int)
    near_curve = np.abs(blue_green_red - [curve.blue(), curve.green(), curve.red()]).max(axis=-1) < 12
    assert near_curve.sum() > 100  # one-pixel pens, every other pixel sampled


def test_ctrl_c_closes_the_window_and_ends_the_producer(qapp):
    app = start("--rate", "5000")
    try:
        end = time.monotonic() + 30
        while time.monotonic() < end and not any(map(is_producer, children(app.pid))):
            time.sleep(0.05)
        helpers = children(app.pid)  # the producer, and multiprocessing's resource tracker
        assert any(map(is_producer, helpers)), app.stderr.read() if app.poll() is not None else helpers
        time.sleep(1.5)  # running, with data flowing
        app.send_signal(signal.SIGINT)
        out, err = app.communicate(timeout=20)
    finally:
        if app.poll() is None:
            app.kill()
    assert app.returncode == 128 + signal.SIGINT, err  # as a shell reports Ctrl+C
    assert "Traceback" not in err
    assert wait_gone(helpers) == []


def test_until_end_closes_once_the_source_ended_and_writes_what_was_asked(tmp_path):
    rows = tmp_path / "rows.csv"
    rows.write_text("t,v\n" + "".join(f"{i},{i * i}\n" for i in range(500)))
    csv = tmp_path / "out.csv"
    began = time.monotonic()
    with open(rows) as piped:
        app = stelvane("-", "--export-csv", str(csv), stdin=piped, seconds=60, until_end=True)
        summary = summary_of(app)
    assert time.monotonic() - began < 30  # the end of input, not --seconds, closed it
    assert summary["points"] == 500 and summary["ended"]
    assert csv.read_text().splitlines()[-1].endswith("499,249001")


def test_a_timed_run_ends_whatever_other_window_is_open(qtbot, capsys):
    # Closing the last window only posts a quit, which Qt takes back when a
    # window is shown meanwhile; any window open beside it keeps it from
    # coming at all. The run ends when its time is up either way.
    other = qt_compat.QtWidgets.QWidget()
    qtbot.addWidget(other)
    other.show()
    late = qt_compat.QtCore.QTimer(other)  # the only way out without that: the other one closed
    late.setSingleShot(True)
    late.timeout.connect(other.close)
    late.start(20_000)
    began = time.monotonic()
    code, _, err = run_main(capsys, "--seconds", "1", "--rate", "200")
    assert code == 0, err
    assert time.monotonic() - began < 15


@pytest.mark.parametrize("args, complaint", [
    (["--rate", "0"], "--rate: must be greater than 0"),
    (["--columns", "x"], "--columns: invalid parse value"),
    (["--history", "-1"], "--history: must not be negative"),
    (["--export-csv", "run.csv"], "--export-png and --export-csv write when --seconds ends"),
    (["--seconds", "1", "--export-png", "live.jpg"],
     "--export-png: could not save live.jpg: name it .png or .svg"),
])
def test_bad_options_are_refused_before_anything_starts(refusal, args, complaint):
    assert complaint in refusal(*args)


def test_a_refused_command_line_ends_the_process_with_status_2():
    app = start("--rate", "0")
    out, err = app.communicate(timeout=30)
    assert app.returncode == 2 and out == ""
    assert "--rate: must be greater than 0" in err and "usage: python -m tarvinel.stelvane" in err
    assert "Traceback" not in err


def test_the_command_s_producer_loads_no_qt(tmp_path):
    """The producer is a fresh interpreter that would run the command's
    script (as pip writes it) again: Qt and the window's code, for nothing."""
    (tmp_path / "stelvane").write_text("import sys\nfrom tarvinel.stelvane.app import console_main\n"
                                       "if __name__ == '__main__':\n    sys.exit(console_main())\n")
    (tmp_path / "qt_seen.py").write_text(
        "import sys\ndef produce(feed):\n    feed.columns(['i', 'qt'])\n"
        "    qt = any(m.startswith(('PySide6', 'PyQt', 'pyqtgraph')) for m in sys.modules)\n"
        "    feed.row([0, float(qt)])\n")
    app = start(tmp_path / "qt_seen.py", "--seconds", "20", "--until-end", "--summary",
                script=tmp_path / "stelvane")
    summary = summary_of(app)
    assert summary["points"] == 1 and summary["stats"][0]["max"] == 0.0

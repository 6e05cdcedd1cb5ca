"""Remembered settings: what the user set comes back after a restart, the
command line wins, --fresh ignores them, and a broken file never stops the
window. Each test has its own settings directory (conftest's settings_home)."""

import os
import socket
import subprocess
import sys

import pytest

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.window import settings
from tarvinel.stelvane.app import create_app

from tests.support.running import REPO_ROOT, WAIT
from tests.support.userinput import choose, type_pattern

Qt = qt_compat.QtCore.Qt
ARGS = ["--rate", "300", "--columns", "6", "--trace-rate", "5", "--trace-points", "21"]
DEFAULT_PATTERN = "time,(sine|cosine|sinc)"


def open_window(qtbot, *extra):
    win = create_app(ARGS + list(extra)).window
    with qtbot.waitExposed(win):  # shown by create_app
        pass
    qtbot.waitUntil(lambda: len(win.point_dataset) > 0 and win.trace_dataset.payloads_stored > 0,
                    timeout=WAIT)
    return win


def bundle_state(bundle):
    return (bundle.stx.text(), bundle.fx.currentText(), bundle.fy.currentText(),
            bundle.lx.isChecked(), bundle.ly.isChecked(), bundle.linkx.isChecked(),
            bundle.linky.isChecked())


def click(qtbot, box):
    qtbot.waitUntil(box.isVisible, timeout=2000)  # a mode's boxes show after the switch
    was = box.isChecked()
    qtbot.mouseClick(box, Qt.MouseButton.LeftButton)
    qtbot.waitUntil(lambda: box.isChecked() != was, timeout=2000)


def test_what_the_user_set_comes_back_after_a_restart(qtbot):
    win = open_window(qtbot)
    bar = win.toolbar
    type_pattern(qtbot, bar.ps.stx, "time,noise")
    choose(qtbot, bar.ps.fy, "mag")
    click(qtbot, bar.ps.lx)
    click(qtbot, bar.ps.linky)
    click(qtbot, bar.tb)
    qtbot.waitUntil(lambda: bar.mode == "T")
    type_pattern(qtbot, bar.ts.stx, "freq,S11")
    choose(qtbot, bar.ts.fx, "imag")
    click(qtbot, bar.ts.ly)
    win.splitters["plots"].setSizes([400, 150])
    # Smaller than it starts; the test screen is 800 x 600 and Qt 6 fits a
    # restored window into the screen, so only the height tells there.
    first_size = win.size()
    win.resize(first_size.width() - 40, 520)
    qtbot.waitUntil(lambda: win.size() != first_size, timeout=2000)
    size = win.size()
    assert size.height() < first_size.height()
    points, traces = bundle_state(bar.ps), bundle_state(bar.ts)
    assert points == ("time,noise", "real", "mag", True, False, False, True)
    assert traces == ("freq,S11", "imag", "mag", False, True, False, False)
    sizes = win.splitters["plots"].sizes()
    win.close()

    again = open_window(qtbot)
    try:
        bar = again.toolbar
        # The producer announced the remembered pattern, not its default.
        qtbot.waitUntil(lambda: bar.xypairs == [("time", "noise")], timeout=WAIT)
        assert (bundle_state(bar.ps), bundle_state(bar.ts)) == (points, traces)
        assert (bar.fx, bar.fy, bar.lx, bar.ly) == ("real", "mag", True, False)
        assert again.size().height() == size.height()
        if qt_compat.API == "pyqt5":  # Qt 5 restores a window wider than the screen as it was
            assert again.size() == size
        # (The history plot has its room once it has a run to show: a busy
        # machine's first roll may come after the pattern.)
        qtbot.waitUntil(lambda: again.splitters["plots"].sizes() == sizes, timeout=WAIT)
    finally:
        again.close()


GOOD = """[General]
format=1
[sources]
instrument\\points=time,noise
[points]
fy=mag
logX=true
"""


@pytest.mark.parametrize("content, extra, expected, warning", [
    (GOOD, ["--fresh"], (DEFAULT_PATTERN, "real", False), None),
    (GOOD, ["--pattern", "time,sine"], ("time,sine", "mag", True), None),
    # (Damaged or foreign: which one Qt's parser makes of bytes varies.)
    (b"\x00\xff[[[garbage\n=\n", [], (DEFAULT_PATTERN, "real", False), "stelvane.ini ignored: it is"),
    ("[General]\ncolour=blue\n", [], (DEFAULT_PATTERN, "real", False),
     "ignored: it is not a stelvane settings file"),
    (GOOD.replace("logX=true", "logX=maybe").replace("fy=mag", "fy=loud")
     + "[window]\ngeometry=!!\n", [], ("time,noise", "real", False),
     "points/logX ignored (not true or false: 'maybe')"),
    (GOOD + "[window]\nlive=10 m\n", [], ("time,noise", "mag", True),
     "window/live ignored ('10 m' is no window"),
    # A pattern that does not compile is the user's to fix: shown, and reported.
    (GOOD.replace("time,noise", '"time,(noise"'), [], ("time,(noise", "mag", True),
     "invalid pattern 'time,(noise'"),
], ids=["fresh", "command line wins", "damaged", "foreign", "bad values", "bad window",
        "bad pattern"])
def test_command_line_fresh_and_broken_files(qtbot, capsys, settings_home, content, extra, expected,
                                             warning):
    path = settings_home / "tarvinel" / "stelvane.ini"
    path.parent.mkdir()
    path.write_bytes(content.encode() if isinstance(content, str) else content)
    win = open_window(qtbot, *extra)
    try:
        ps = win.toolbar.ps
        # The pattern announced, and taken (or refused).
        qtbot.waitUntil(lambda: win.toolbar.xypairs != [] or win.problems.count > 0, timeout=WAIT)
        assert (ps.stx.text(), ps.fy.currentText(), ps.lx.isChecked()) == expected
        messages = [message for message, _ in win.problems.entries]
        if warning is None:
            assert messages == []
        else:
            assert any(warning in m for m in messages), messages
        if warning and "ignored" in warning:  # what the settings file had: also on stderr
            assert any(warning in line for line in capsys.readouterr().err.splitlines())
    finally:
        win.close()
    # Closing replaced the file with a sound one: what the window had.
    written = settings.open_store(str(path))
    assert str(written.value("format")) == "1"
    assert written.value("sources/instrument/points") == expected[0]


def test_settings_survive_a_restart_of_the_process(tmp_path):
    ini = tmp_path / "tarvinel" / "stelvane.ini"
    data, other = tmp_path / "data.csv", tmp_path / "other.csv"
    for path in (data, other):
        path.write_text("a,b,c\n1,2,3\n")

    def run(*args):
        app = subprocess.run(
            [sys.executable, "-m", "tarvinel.stelvane", *map(str, args)],
            env=dict(os.environ, PYTHONPATH=str(REPO_ROOT), XDG_CONFIG_HOME=str(tmp_path)),
            capture_output=True, text=True, timeout=60)
        assert app.returncode == 0, app.stderr

    def read_file(path, *args):
        # It closes once the file was read (its pattern came first).
        run(path, "--no-follow", "--until-end", "--seconds", "30", *args)

    def patterns():
        store = settings.open_store(str(ini))
        return {source: store.value(settings.source_key(source) + "/points")
                for source in ("instrument", str(data), str(other))}

    read_file(data, "--pattern", "a,c")
    assert patterns() == {"instrument": None, str(data): "a,c", str(other): None}
    # No pattern given: the next process takes the remembered one (had it
    # started from the default, it would have saved the default).
    read_file(data)
    # A file has patterns of its own: it starts from its first column
    # against the others, and the other sources' patterns stay.
    read_file(other)
    assert patterns() == {"instrument": None, str(data): "a,c", str(other): "a,(b|c)"}


def test_a_pattern_given_is_remembered_though_the_window_closed_before_it_came(qtbot, settings_home):
    # A TCP source without a client sends nothing: the pattern given for it
    # never reaches the toolbar before the window closes.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        source = f"tcp://127.0.0.1:{probe.getsockname()[1]}"
    win = create_app([source, "--pattern", "x,y"]).window
    with qtbot.waitExposed(win):  # shown by create_app
        pass
    assert win.toolbar.ps.stx.text() == ""
    win.close()
    written = settings.open_store(str(settings_home / "tarvinel" / "stelvane.ini"))
    assert written.value(settings.source_key(source) + "/points") == "x,y"


def test_the_views_that_were_on_come_back_on(qtbot):
    win = open_window(qtbot)
    for button in ("Stats", "Spectrum", "dB", "log f", "Legend", "Pause"):
        click(qtbot, win.controls.buttons[button])
    views = {name: action.isChecked() for name, action in win.controls.views.items()}
    assert views == {"legend": False, "tracker": False, "stats": True, "spectrum": True,
                     "db": True, "log_frequency": True}
    win.close()

    again = open_window(qtbot)
    try:
        assert {name: a.isChecked() for name, a in again.controls.views.items()} == views
        assert again.stats_table.isVisible() and again.spectrum.plot.isVisible()
        assert again.spectrum.in_db and again.spectrum.log_frequency
        assert not any(legend.shown for legend in again.presenter.legends)
        assert not again.controls.pause.isChecked()  # a window starts showing its data
    finally:
        again.close()

"""--expr as a user gives it: derived series of a file read back from
--summary and from the exported data, remembered for the file, and a bad
expression refused before anything starts."""

import numpy as np
import pytest

from tarvinel.stelvane import config, qt_compat
from tarvinel.stelvane.window import settings
from tarvinel.stelvane.app import create_app

from tests.support.running import stelvane, summary_of

Qt = qt_compat.QtCore.Qt
SERIES = ["p=r*c", "i = integral(r)", "`avg c`=moving_average(c, 10)"]


def test_derived_series_of_a_file_in_the_summary_and_the_export(tmp_path):
    t = np.arange(500) / 10.0
    r, c = np.sqrt(t), np.cos(t)
    path, saved = tmp_path / "run.csv", tmp_path / "saved.csv"
    rows = np.column_stack((t, r, c)).tolist()
    path.write_text("t,r,c\n" + "".join(f"{a!r},{b!r},{d!r}\n" for a, b, d in rows))
    expr = [option for text in SERIES for option in ("--expr", text)]
    # The file read, the window closes (at most 30 s).
    first = summary_of(stelvane(str(path), "--no-follow", *expr, "--export-csv", str(saved),
                                seconds=30, until_end=True))
    assert first["point_columns"] == ["t", "r", "c", "p", "i", "avg c"] and first["ended"]
    expected = {"p": r * c, "i": np.concatenate(([0], np.cumsum((r[1:] + r[:-1]) / 2 * 0.1))),
                "avg c": np.array([c[max(0, k - 9):k + 1].mean() for k in range(500)])}
    stats = {s["name"]: s for s in first["stats"]}  # the first column against every other
    for name, values in expected.items():
        assert stats[name]["count"] == 500 and stats[name]["last"] == pytest.approx(values[-1])
        assert stats[name]["mean"] == pytest.approx(values.mean(), rel=1e-9)
    lines = saved.read_text().splitlines()
    assert lines[1] == "t,r,c,p,i,avg c"
    exported = np.loadtxt(lines[2:], delimiter=",")
    for j, values in enumerate(expected.values(), start=3):
        np.testing.assert_allclose(exported[:, j], values, rtol=1e-12)


def test_a_bad_expression_exits_with_status_2_and_points_at_the_character(refusal):
    err = refusal("--expr", "p=volts", "--expr", "dB = 20*log10(abs(S21)) + os.system('ls')")
    assert err.endswith("error: argument --expr: dB: an attribute is not allowed here\n"
                       "  20*log10(abs(S21)) + os.system('ls')\n"
                       "                         ^\n")


VOLTS, AMPS = np.arange(200) % 7, 2 + np.arange(200) % 3


@pytest.fixture
def read_window(qtbot, tmp_path):
    """A window that has read a file of 200 rows of t, volts and amps, with
    the options given."""
    path = tmp_path / "log.csv"
    path.write_text("t,volts,amps\n" + "".join(f"{i / 10},{v},{a}\n"
                                                 for i, (v, a) in enumerate(zip(VOLTS, AMPS))))
    opened = []

    def start(*options):
        window = create_app([str(path), "--no-follow", "--fresh", *options]).window
        opened.append(window)
        qtbot.waitUntil(lambda: len(window.point_dataset) == 200, timeout=10_000)
        return window
    yield start
    for window in opened:
        window.close()


def type_pattern(qtbot, window, text):
    field = window.modes["P"].controls.pattern_field
    field.setFocus()
    qtbot.keyClick(field, Qt.Key.Key_A, Qt.KeyboardModifier.ControlModifier)
    qtbot.keyClicks(field, text)
    qtbot.keyClick(field, Qt.Key.Key_Return)


def test_a_derived_series_is_matched_drawn_named_and_listed_in_the_window(qtbot, read_window):
    window = read_window("--expr", "`P [W]`=volts*amps", "--expr", "v_avg=moving_average(volts, 7)")
    type_pattern(qtbot, window, "t,(P.*|v_.*)")
    qtbot.waitUntil(lambda: [tuple(pair) for pair in window.selection.pairs]
                    == [("t", "P [W]"), ("t", "v_avg")], timeout=5000)
    curve = window.live_plot.plots[config.ridx[0]]
    qtbot.waitUntil(lambda: curve.yData is not None
                    and np.array_equal(curve.yData, VOLTS * AMPS), timeout=5000)
    assert [name for name, _ in window.plot_presenters[0].legend.entries] == ["P [W]", "v_avg"]
    window.refresh_status(0.0)
    table = window.modes["P"].data_box.table
    cells = {table.item(i, 0).text(): float(table.item(i, 1).text())
             for i in range(table.rowCount())}
    assert cells["P [W]"] == VOLTS[-1] * AMPS[-1]
    assert cells["v_avg"] == pytest.approx(VOLTS[-7:].mean(), rel=1e-6)


def test_the_editor_takes_sound_lines_over_the_stored_rows_and_points_at_a_bad_one(
        qtbot, read_window):
    window = read_window("--expr", "p=volts*amps")
    window.activateWindow()  # the view keys are the window's shortcuts
    qtbot.waitUntil(lambda: qt_compat.QtWidgets.QApplication.activeWindow() is window)
    window.live_plot.setFocus()
    qtbot.keyClick(window.live_plot, Qt.Key.Key_E)
    editor = window.expressions_editor
    qtbot.waitUntil(editor.isVisible)
    assert editor.lines.toPlainText() == "p=volts*amps"
    for _ in range(2):
        qtbot.keyClick(editor.lines, Qt.Key.Key_Return)
    qtbot.keyClicks(editor.lines, "charge = integral(amps)")
    qtbot.keyClick(editor.lines, Qt.Key.Key_Return, Qt.KeyboardModifier.ControlModifier)
    data = window.point_dataset
    qtbot.waitUntil(lambda: data.column_names == ["t", "volts", "amps", "p", "charge"])
    np.testing.assert_allclose(data.column("charge")[-1], np.sum(AMPS[1:] + AMPS[:-1]) / 2 * 0.1)
    qtbot.waitUntil(lambda: ["t", "charge"] in [list(pair) for pair in window.selection.pairs])
    qtbot.keyClick(editor.lines, Qt.Key.Key_Return)
    qtbot.keyClicks(editor.lines, "q = volts.real")
    qtbot.mouseClick(editor.apply_button, Qt.MouseButton.LeftButton)
    assert editor.message.text() == ("line 4: q: an attribute is not allowed here\n"
                                     "  volts.real\n       ^")
    assert data.column_names[3:] == ["p", "charge"]
    assert window.summary()["derived"] == ["p=volts*amps", "charge=integral(amps)"]
    qtbot.keyClick(editor.lines, Qt.Key.Key_Home, Qt.KeyboardModifier.ShiftModifier)
    qtbot.keyClicks(editor.lines, "q = volts + volt")  # a column misspelt
    qtbot.mouseClick(editor.apply_button, Qt.MouseButton.LeftButton)
    assert editor.message.text() == ("points: derived series left out: "
                                     "q: no column 'volt' in 'volts + »volt'")
    assert data.column_names[3:] == ["p", "charge"] and window.problems.count == 1


def test_the_series_are_remembered_for_their_source(qtbot, tmp_path):
    first, other = tmp_path / "first.csv", tmp_path / "other.csv"
    for path in (first, other):
        path.write_text("t,a\n0,1\n")

    def derived(*argv):
        window = create_app([*map(str, argv), "--no-follow"]).window
        window.close()  # saves the settings
        return [expression.definition for expression in window.expressions]
    given = ["p=a*2", "`d a`=delta(a)"]
    assert derived(first, "--expr", given[0], "--expr", "`d a` = delta(a)") == given
    assert derived(other) == []  # another file: its own (none yet)
    assert derived(first) == given  # the file's, remembered
    assert derived(first, "--expr", "") == []  # none, and none remembered any more
    assert derived(first) == []


def test_a_remembered_series_that_no_longer_parses_is_reported_and_left_out(tmp_path):
    path = str(tmp_path / "stelvane.ini")
    store = settings.open_store(path)
    store.setValue("format", settings.FORMAT)
    store.setValue(f"{settings.source_key(settings.INSTRUMENT)}/expressions",
                   "p=sine*2\nq=sine.real\n`r s`=delta(p)")
    store.sync()
    warned = []
    remembered = settings.read(settings.open_store(path), warned.append)
    assert [e.definition for e in remembered.expressions] == ["p=sine*2", "`r s`=delta(p)"]
    assert warned == [f"settings file {path}: derived series ignored: "
                      "q: an attribute is not allowed here in 'sine».real'"]

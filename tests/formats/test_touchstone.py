"""Touchstone files written here in each option line's form (RI, MA, DB; Hz
to GHz), versions 1 and 2, one to four ports, and read back through the
real file source: one whole trace, `freq` in Hz and S11...SNN in matrix
order, checked against the values written; the Traces mode shows them."""

import gzip
from multiprocessing import Pipe
import queue

import numpy as np
import pytest

from tarvinel.stelvane.app import create_app
from tarvinel.stelvane.sources.feed import Feed
from tarvinel.stelvane.formats import ReadOptions
from tarvinel.stelvane.protocol import TD, TN, TXY
from tarvinel.stelvane.sources.file import FileSource

from tarvinel.stelvane import config, qt_compat

UNITS = {"Hz": 1.0, "kHz": 1e3, "MHz": 1e6, "GHz": 1e9}
FREQS = np.array([1.0e6, 2.5e6, 4.0e6, 8.0e6])


class Status:
    def __init__(self):
        self.problems = []

    def problem(self, text):
        self.problems.append(text)

    listening = False  # no window: the file source waits for none to take its rows

    def info(self, text):
        pass


def read(path, reading=ReadOptions(), trace_pattern=None):
    """The file through FileSource: (its trace names, the trace, the trace
    pattern, the problems, why it ended)."""
    commands, (stop, window) = queue.Queue(), Pipe(False)
    status = Status()
    feed = Feed(commands, trace_pattern=trace_pattern)
    ended = FileSource(str(path), False, reading).run(feed, status, stop)
    window.close()
    items = [commands.get() for _ in range(commands.qsize())]
    found = {word: data for word, data in items if word in (TN, TD, TXY)}
    return found.get(TN), found.get(TD), found.get(TXY), status.problems, ended


def num(value):
    return repr(float(value))


def curve_data(plot, key):
    curve = plot.plots[key]
    return [np.empty(0) if a is None else a for a in (curve.xData, curve.yData)]


def filled_curves(plot):
    return [key for key in config.ridx if len(curve_data(plot, key)[0])]


def network(ports, seed=1):
    rng = np.random.default_rng(seed)
    shape = (len(FREQS), ports, ports)
    return rng.uniform(0.01, 1, shape) * np.exp(1j * rng.uniform(-3, 3, shape))


def pairs(values, fmt):
    if fmt == "RI":
        return [(v.real, v.imag) for v in values]
    magnitudes = 20 * np.log10(np.abs(values)) if fmt == "DB" else np.abs(values)
    return list(zip(magnitudes, np.angle(values, deg=True)))


def touchstone_v1(matrices, unit="GHz", fmt="RI", parameter="S", resistance=50):
    """A version 1 file: two-ports in S11 S21 S12 S22 order on one line,
    more ports a matrix row per line, at most four pairs to a line."""
    lines = ["! written by the test", f"# {unit} {parameter} {fmt} R {resistance}"]
    for freq, matrix in zip(FREQS, matrices):
        ports = len(matrix)
        rows = [matrix.T.ravel()] if ports == 2 else [matrix.ravel()] if ports == 1 else matrix
        first = True
        for row in rows:
            for start in range(0, len(row), 4):
                words = [f"{num(a)} {num(b)}" for a, b in pairs(row[start:start + 4], fmt)]
                lead = num(freq / UNITS[unit]) if first else "   "
                lines.append(f"{lead} " + "  ".join(words) + (" ! a comment" if first else ""))
                first = False
    return "\n".join(lines) + "\n"


def as_matrices(names, trace, ports):
    assert names == ["freq"] + [f"S{i}{j}" for i in range(1, ports + 1)
                                for j in range(1, ports + 1)]
    return trace[:, 0].real, trace[:, 1:].reshape(-1, ports, ports)


@pytest.mark.parametrize("unit", UNITS)
@pytest.mark.parametrize("fmt", ["RI", "MA", "DB"])
def test_each_option_line_reads_the_values_it_holds(tmp_path, fmt, unit):
    matrices = network(2)
    path = tmp_path / "dut.s2p"
    path.write_text(touchstone_v1(matrices, unit, fmt))
    names, trace, pattern, problems, ended = read(path)
    freq, read_matrices = as_matrices(names, trace, 2)
    assert np.allclose(freq, FREQS) and np.allclose(read_matrices, matrices, rtol=1e-12)
    assert pattern == "freq,S21" and problems == []
    assert ended == "end of file: 4 frequencies of 2-port S-parameters, reference 50 Ω (Touchstone)"


@pytest.mark.parametrize("ports", [1, 3, 4])
def test_any_number_of_ports_with_records_over_several_lines(tmp_path, ports):
    matrices = network(ports, seed=ports)
    path = tmp_path / f"dut.s{ports}p"
    path.write_text(touchstone_v1(matrices, "MHz", "MA", resistance=75))
    names, trace, pattern, problems, ended = read(path)
    freq, read_matrices = as_matrices(names, trace, ports)
    assert np.allclose(freq, FREQS) and np.allclose(read_matrices, matrices)
    assert pattern == ("freq,S11" if ports == 1 else "freq,S21") and problems == []
    assert "reference 75 Ω" in ended
    assert read(path, trace_pattern="freq,S.2")[2] == "freq,S.2"  # the user's pattern stays


def test_recognised_by_its_option_line_where_the_name_does_not_say(tmp_path):
    matrices = network(2)
    path = tmp_path / "sweep.txt"
    path.write_text(touchstone_v1(matrices, "kHz", "DB"))  # the ports from its records
    names, trace, *_ = read(path)
    assert np.allclose(as_matrices(names, trace, 2)[1], matrices)
    names, trace, *_ = read(path, ReadOptions(format="table"))  # the format given: a table
    assert names is None and trace is None


def test_a_compressed_touchstone_file(tmp_path):
    matrices = network(3)
    (tmp_path / "dut.s3p.gz").write_bytes(gzip.compress(touchstone_v1(matrices).encode()))
    names, trace, pattern, problems, ended = read(tmp_path / "dut.s3p.gz")
    assert np.allclose(as_matrices(names, trace, 3)[1], matrices) and problems == []
    assert ended.endswith(", Touchstone (gzip)")


def test_version_2_keywords(tmp_path):
    s = network(2)[:2]
    text = f"""! version 2, its two-port data in 12_21 order
[Version] 2.0
# Hz S RI R 50
[Number of Ports] 2
[Two-Port Data Order] 12_21
[Number of Frequencies] 2
[Reference]
50 75
[Begin Information]
vendor text 1 2 3
[End Information]
[Network Data]
"""
    for freq, m in zip(FREQS, s):
        values = [m[0, 0], m[0, 1], m[1, 0], m[1, 1]]
        text += num(freq) + " " + " ".join(f"{num(v.real)} {num(v.imag)}" for v in values[:2])
        text += "\n   " + " ".join(f"{num(v.real)} {num(v.imag)}" for v in values[2:]) + "\n"
    text += "[Noise Data]\n1e6 1.5 0.5 30 0.2\n2e6 1.6 0.5 31 0.2\n[End]\n"
    path = tmp_path / "amp.ts"
    path.write_text(text)
    names, trace, pattern, problems, ended = read(path)
    assert np.allclose(as_matrices(names, trace, 2)[1], s)
    assert problems == ["amp.ts line 18: its noise parameters (2 lines) are not read"]
    assert "reference 50, 75 Ω" in ended


def test_lower_matrices_and_normalised_impedances(tmp_path):
    m = network(3)[:1]
    symmetric = (m + m.transpose(0, 2, 1)) / 2
    lower = " ".join(f"{num(symmetric[0, i, j].real)} {num(symmetric[0, i, j].imag)}"
                     for i in range(3) for j in range(i + 1))
    (tmp_path / "lower.s3p").write_text(
        f"[Version] 2.0\n# Hz S RI\n[Number of Ports] 3\n[Matrix Format] Lower\n"
        f"[Network Data]\n1e6 {lower}\n[End]\n")
    names, trace, *_ = read(tmp_path / "lower.s3p")
    assert np.allclose(as_matrices(names, trace, 3)[1], symmetric)
    # Version 1 keeps Z normalised to R: read in ohms.
    (tmp_path / "z.s1p").write_text("# Hz Z RI R 50\n1e6 1.0 -0.5\n")
    names, trace, pattern, _, _ = read(tmp_path / "z.s1p")
    assert names == ["freq", "Z11"] and pattern == "freq,Z11" and trace[0, 1] == 50 - 25j


def test_bad_lines_are_problems_with_their_numbers_and_the_rest_reads(tmp_path):
    (tmp_path / "bad.s2p").write_text(
        "# GHz S RI R 50\n"
        "1 0.1 0 0.2 0 0.3 0 0.4 0\n"
        "2 0.1 0 0.2 oops 0.3 0 0.4 0\n"        # line 3: no number
        "3 0.1 0 0.2 0 0.3 0 0.4 0\n"
        "4 0.1 0 0.2 0 0.3\n")                   # line 5: cut short
    names, trace, _, problems, _ = read(tmp_path / "bad.s2p")
    assert np.allclose(trace[:, 0].real, [1e9, 3e9])
    assert problems == ["bad.s2p line 3: not numbers: '2 0.1 0 0.2 oops 0.3 0 0.4 0'",
                        "bad.s2p line 5: a record cut short: 6 of 9 values, not read"]
    (tmp_path / "empty.s2p").write_text("! nothing but comments\n# GHz S RI R 50\n")
    assert read(tmp_path / "empty.s2p")[3] == ["empty.s2p: no network data in it"]


def test_the_traces_mode_shows_s21_of_a_file(qtbot, tmp_path):
    Qt = qt_compat.QtCore.Qt
    matrices = network(2)
    path = tmp_path / "filter.s2p"
    path.write_text(touchstone_v1(matrices, "MHz", "MA"))
    window = create_app([str(path), "--no-follow"]).window
    try:
        with qtbot.waitExposed(window):  # shown by create_app
            pass
        qtbot.waitUntil(lambda: window.summary()["traces"] == 1, timeout=20_000)
        bar, live = window.toolbar, window.live_plot
        qtbot.mouseClick(bar.tb, Qt.MouseButton.LeftButton)
        qtbot.waitUntil(lambda: bar.mode == "T" and filled_curves(live) == [0])
        assert bar.xypairs == [("freq", "S21")] and bar.fy == "mag"
        x, y = curve_data(live, 0)
        assert np.allclose(x, FREQS) and np.allclose(y, np.abs(matrices[:, 1, 0]))
    finally:
        window.close()

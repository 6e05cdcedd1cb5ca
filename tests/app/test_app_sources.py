"""The user's own data in the application, as a user sees it: `stelvane -`
fed through a real pipe, a followed file another process writes, TCP clients
on 127.0.0.1, producer scripts, show(); checked through --summary, the
published selection and the status bar."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

from tarvinel.stelvane import show

from tests.support.network import free_port, send
from tests.support.running import REPO_ROOT, WAIT, run_main, start, summary_in, summary_of, write

ROWS = "t,a,b\n" + "".join(f"{i},{2 * i},{i * i}\n" for i in range(3000))


def piped(text):
    """The read end of a pipe another process writes `text` into, and that process."""
    read_end, write_end = os.pipe()
    writer = subprocess.Popen([sys.executable, "-c", "import sys; sys.stdout.write(sys.argv[1])",
                               text], stdout=write_end)
    os.close(write_end)
    return read_end, writer


def test_standard_input_through_a_pipe(qapp, capsys, tmp_path):
    cases = [  # (options, what the source adds at the end, the pairs the user sees)
        ([], "", [["t", "a"], ["t", "b"]]),                       # first column against the others
        (["--pattern", "t,b"], "", [["t", "b"]]),
        (["--pattern", "t,b"], "#@pattern a,b\n", [["a", "b"]]),  # the source's own replaces it
    ]
    summaries = []
    for n, (args, extra, _) in enumerate(cases):
        read_end, writer = piped(ROWS + "1,oops,2\n\n" + extra + "7,8,9\n")
        if n == 0:  # the application as its own process (and its own settings: no pattern
            # remembered from the others); meanwhile the others in this one
            app = start("-", *args, "--seconds", "30", "--until-end", "--summary", stdin=read_end,
                        env={"XDG_CONFIG_HOME": str(tmp_path)})
        else:
            code, out, err = run_main(capsys, "-", *args, "--until-end", "--seconds", "30",
                                      "--summary", stdin=read_end)
            assert code == 0 and "Traceback" not in err, err
            summaries.append(summary_in(out))
        os.close(read_end)
        assert writer.wait(30) == 0
    summaries.insert(0, summary_of(app))
    for summary, (_, extra, pairs) in zip(summaries, cases):
        # Every line: 3002 rows (one with a value missing), the names, a blank
        # line, the directive.
        skipped = {"blank": 1, "names": 1, **({"directive": 1} if extra else {})}
        assert summary.pop("lines") == {"total": 3004 + bool(extra), "data": 3002,
                                        "skipped": skipped, "problems": 0}
        # The live plot shows the current run, the one row 7,8,9.
        stats = summary.pop("stats")
        assert [(s["name"], s["count"], s["last"]) for s in stats] == [
            (y, 1, {"a": 8, "b": 9}[y]) for _, y in pairs]
        low, high = summary.pop("live_x")
        assert low <= {"t": 7, "a": 8}[pairs[0][0]] <= high
        assert summary == {
            "points": 3002, "kept": 1, "runs": 2, "traces": 0, "point_columns": ["t", "a", "b"],
            "trace_columns": [], "pairs": pairs, "problems": 1,
            "problem_texts": ["stdin line 3002: 'oops' is not a number: '1,oops,2'; "
                              "read as missing"],
            "ended": True, "window": "rows", "window_rows": 1, "derived": [],
            "cursors": {}, "limits": [], "right_axis": [], "markers": [], "split": None}


def test_a_followed_file_written_by_another_process(qtbot, open_app, tmp_path):
    path = tmp_path / "log.csv"
    write(path, "w", "time,v\n0,1\n1,2\n")
    window = open_app(str(path))
    qtbot.waitUntil(lambda: window.summary()["points"] == 2, timeout=WAIT)
    write(path, "a", "2,3\n")
    qtbot.waitUntil(lambda: window.summary()["points"] == 3, timeout=WAIT)
    write(path, "w", "time,w,z\n5,6,7\n")  # rewritten from the start: a new run
    qtbot.waitUntil(lambda: window.summary()["points"] == 4, timeout=WAIT)
    summary = window.summary()
    assert summary["runs"] == 2 and summary["point_columns"] == ["time", "w", "z"]
    assert window.toolbar.xypairs == [("time", "w"), ("time", "z")]
    assert [run.rows for run in window.point_dataset.history] == [[(0, 1), (1, 2), (2, 3)]]
    path.unlink()
    qtbot.waitUntil(lambda: window.summary()["ended"], timeout=WAIT)
    assert window.status_bar.currentMessage() == "source ended: the file was deleted"
    assert window.summary()["problems"] == 0 and window.isVisible()


def test_tcp_clients_one_after_the_other(qtbot, open_app):
    port = free_port()
    window = open_app(f"tcp://127.0.0.1:{port}", "--pattern", "x,y")
    qtbot.waitUntil(lambda: "listening" in window.status_bar.currentMessage(), timeout=WAIT)
    send(port, b"x,y\n1,2\n3,4\n")
    qtbot.waitUntil(lambda: window.summary()["runs"] == 1 and len(window.point_dataset) == 0,
                    timeout=WAIT)
    assert window.toolbar.xypairs == [("x", "y")]
    send(port, b"p,q,r\n1,2,3\n" + b"9" * (2 << 20))  # new names; then a line over the limit
    qtbot.waitUntil(lambda: window.summary()["runs"] == 2 and window.summary()["problems"] == 1,
                    timeout=WAIT)
    summary = window.summary()
    assert summary["points"] == 3 and summary["point_columns"] == ["p", "q", "r"]
    assert "connection closed" in window.problems.text and not summary["ended"]
    assert window.toolbar.xypairs == []  # x,y matches nothing among p, q, r


def test_example_scripts(qtbot, open_app):
    sweep = open_app(str(REPO_ROOT / "examples" / "sweep.py"))
    oscillator = open_app(str(REPO_ROOT / "examples" / "oscillator.py"))
    qtbot.waitUntil(lambda: sweep.summary()["ended"], timeout=WAIT)
    qtbot.waitUntil(lambda: oscillator.summary()["runs"] >= 2, timeout=WAIT)
    swept = sweep.summary()
    assert swept["traces"] == 3 and swept["trace_columns"] == ["freq", "H"]
    oscillated = oscillator.summary()
    assert oscillated["points"] >= 2000 and not oscillated["ended"]
    assert oscillated["pairs"] == [["time", "position"], ["time", "velocity"]]


def test_a_script_that_raises_shows_its_traceback_and_the_window_stays(qtbot, open_app, tmp_path):
    script = tmp_path / "faulty.py"
    script.write_text("def produce(feed):\n    feed.columns(['a', 'b'])\n"
                      "    feed.rows([[1, 2], [3, 4]])\n    raise RuntimeError('sensor lost')\n")
    window = open_app(str(script))
    qtbot.waitUntil(lambda: window.summary()["ended"], timeout=WAIT)
    qtbot.waitUntil(lambda: window.watch.gone, timeout=WAIT)  # its exit is no problem of its own
    assert window.problems.count == 1
    [entry] = window.problems.entries
    assert 'faulty.py", line 4, in produce' in entry[0]
    assert entry[0].endswith("RuntimeError: sensor lost")
    assert window.summary()["points"] == 2 and window.isVisible()
    assert window.watch.source_ended.endswith("raised RuntimeError: sensor lost")


# A caller's module: its produce() sends a few rows with a pattern of its own, and returns.
CALLERS_MODULE = """
def produce(feed):
    feed.columns(["time", "position", "velocity", "energy"])
    feed.pattern("time,(position|velocity)")
    feed.rows([[0.0, 1.0, 0.0, 0.5], [0.1, 0.5, -1.0, 0.6]])
"""


def test_show_opens_the_window_for_a_function_of_the_callers(tmp_path):
    (tmp_path / "callers.py").write_text(CALLERS_MODULE)
    code = """
        import sys
        sys.path.insert(0, sys.argv[1])
        from callers import produce
        from tarvinel.stelvane import show
        if __name__ == "__main__":
            sys.exit(show(produce, seconds=30, until_end=True, summary=True,
                          pattern="time,energy"))
        """
    env = dict(os.environ, PYTHONPATH=str(REPO_ROOT))
    script = subprocess.run([sys.executable, "-c", textwrap.dedent(code), str(tmp_path)],
                            env=env, capture_output=True, text=True, timeout=60)
    assert script.returncode == 0, script.stderr
    summary = json.loads(script.stdout.strip().splitlines()[-1])
    # The script's own pattern came later and replaced the one given to show().
    assert summary["points"] == 2 and summary["ended"]
    assert summary["pairs"] == [["time", "position"], ["time", "velocity"]]


def test_show_refuses_a_function_a_new_process_cannot_find():
    with pytest.raises(TypeError, match="top level of a module"):
        show(lambda feed: feed.columns(["a"]))

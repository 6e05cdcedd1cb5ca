"""What system tools print, piped into `stelvane -` as a user would (`vmstat
1 2 | stelvane -`; the application runs in this process), checked through
--summary; and a problem's text, as the window shows it."""

import os
import shutil
import subprocess

import pytest

from tarvinel.stelvane.dataset import Dataset

from tests.support.running import run_main, summary_in

TOOL_ENV = {"LC_ALL": "C", "PATH": "/usr/bin:/bin"}
# A text column's rows come as TextRows, which the data set stores once it
# knows the words of its columns.
takes_words = pytest.mark.skipif(not hasattr(Dataset, "words"),
                                 reason="the data set does not take rows with words yet")


def tool(*command) -> str:
    """The tool's output on its own, for what the test expects."""
    if shutil.which(command[0]) is None:
        pytest.skip(f"{command[0]} is not installed (make deps installs it)")
    return subprocess.run(command, capture_output=True, text=True, timeout=30, env=TOOL_ENV,
                          check=True).stdout


@pytest.fixture
def piped(qapp, capsys):
    """The application (in this process) reading the tool's output through a
    pipe until it ends: its summary."""
    def run(*command):
        read_end, write_end = os.pipe()
        producer = subprocess.Popen(command, stdout=write_end, env=TOOL_ENV)
        os.close(write_end)
        try:
            code, out, err = run_main(capsys, "-", "--seconds", "30", "--until-end", "--summary",
                                      stdin=read_end)
        finally:
            os.close(read_end)
            producer.wait(30)
        assert code == 0 and "Traceback" not in err, err
        return summary_in(out)

    return run


def names_after(output: str, first_name: str) -> list[str]:
    """The names line's fields from `first_name` on."""
    fields = next(line.split() for line in output.splitlines() if first_name in line.split())
    return fields[fields.index(first_name):]


def test_vmstat_its_group_line_skipped(piped):
    names = names_after(tool("vmstat"), "r")
    summary = piped("vmstat", "1", "2")
    assert summary["points"] == 2 and summary["runs"] == 1
    # r (the run queue) does not grow with the rows: the arrival time is X,
    # unless r happened to rise between the two rows (a busy machine).
    columns = summary["point_columns"]
    assert columns[-len(names):] == names and columns[:-len(names)] in ([], ["arrival"])
    assert summary["problems"] == 0
    assert summary["pairs"][0] == (["arrival", "r"] if columns[0] == "arrival" else ["r", "b"])


@takes_words
def test_iostat_its_banner_skipped_and_devices_as_words(piped):
    output = tool("iostat", "-d")
    names = names_after(output, "Device")
    devices = len(output.strip().splitlines()) - 3  # banner, blank line, names
    summary = piped("iostat", "-d")
    assert summary["point_columns"] == names and summary["points"] == devices
    assert summary["problems"] == 0 and summary["problem_texts"] == []
    # The first number column against the other numbers: no device names as Y.
    assert {tuple(pair) for pair in summary["pairs"]} <= {("tps", n) for n in names[2:]}


@takes_words
def test_mpstat_its_time_of_day_and_cpu_column(piped):
    names = names_after(tool("mpstat"), "CPU")
    summary = piped("mpstat")
    assert summary["point_columns"] == ["time", *names] and summary["points"] == 1
    assert summary["problems"] == 0
    assert all(x == "time" and y not in ("time", "CPU") for x, y in summary["pairs"])


def test_ping_its_replies_plotted_against_icmp_seq(piped):
    try:
        tool("ping", "-c", "1", "127.0.0.1")
    except subprocess.CalledProcessError:
        pytest.skip("ping cannot send here (no raw socket, no ping group)")
    summary = piped("ping", "-c", "3", "-i", "0.2", "127.0.0.1")
    assert summary["point_columns"] == ["icmp_seq", "ttl", "time"] and summary["points"] == 3
    assert summary["pairs"] == [["icmp_seq", "ttl"], ["icmp_seq", "time"]]
    assert summary["lines"]["data"] == 3 and summary["lines"]["problems"] == 0
    assert summary["lines"]["skipped"] == {"blank": 1, "title": 4}


def test_a_bad_line_shows_its_text_in_the_summary_and_the_status_bar(qtbot, tmp_path):
    from tarvinel.stelvane.app import create_app

    data = tmp_path / "rows.csv"
    data.write_text("t,v\n1,2\n2,oops\n3,4\n5,6\n")
    window = create_app([str(data)]).window  # followed: no "source ended" message comes
    with qtbot.waitExposed(window):  # shown by create_app
        pass
    try:
        qtbot.waitUntil(lambda: window.summary()["points"] == 4, timeout=20_000)
        qtbot.waitUntil(lambda: window.summary()["problems"] == 1, timeout=5_000)
        expected = "rows.csv line 3: 'oops' is not a number: '2,oops'; read as missing"
        assert window.summary()["problem_texts"] == [expected]
        assert window.status_bar.currentMessage() == expected
    finally:
        window.close()

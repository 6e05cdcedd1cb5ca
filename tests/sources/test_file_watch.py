"""A followed file wakes its reader when it changes: growth, truncation, a
file renamed over it, a symlink's target written, deletion are all seen with
the reader's timer set far beyond the test's patience; without inotify the
timer follows the file still; and an idle file costs its producer nothing
while the files beside it change."""

import os
import sys
import time

import pytest

from tarvinel.stelvane.sources import FileSource
from tarvinel.stelvane.sources import file_watch

from tests.support.producers import Run
from tests.support.running import IDLE_CPU, cpu_seconds

pytestmark = pytest.mark.skipif(not sys.platform.startswith("linux"),
                                reason="inotify is Linux's")


@pytest.fixture
def no_timer(monkeypatch):
    """Only an event can wake the reader within a test's time (but for a
    missing file's, which has nothing to watch)."""
    monkeypatch.setattr(file_watch, "IDLE_CHECK", 600.0)
    monkeypatch.setattr(file_watch, "POLL_INTERVAL", 600.0)


def append(path, text, mode="a"):
    with open(path, mode) as file:
        file.write(text)


def test_growth_truncation_and_replacement_wake_the_reader(running, no_timer, tmp_path):
    path = tmp_path / "log.csv"
    append(path, "t,v\n0,0\n", "w")
    r = running(FileSource(str(path)))
    r.until(lambda r: r.rows() == [[0, 0]])
    append(path, "1,1\n")
    r.until(lambda r: r.rows()[-1:] == [[1, 1]], seconds=5)
    append(path, "t,w\n2,4\n", "w")                      # truncated and written anew
    r.until(lambda r: r.rows()[-1:] == [[2, 4]], seconds=5)
    assert r.names() == [["t", "v"], ["t", "w"]]
    (tmp_path / "next.csv").write_text("a,b\n3,9\n")
    os.replace(tmp_path / "next.csv", path)             # as a log rotation leaves it
    r.until(lambda r: r.rows()[-1:] == [[3, 9]], seconds=5)
    append(path, "4,16\n")                              # the new file is watched now
    r.until(lambda r: r.rows()[-1:] == [[4, 16]], seconds=5)
    path.unlink()
    r.until(lambda r: r.ended(), seconds=5)
    assert r.result == "the file was deleted" and r.status.problems == []


def test_a_symlinks_target_written_wakes_the_reader(running, no_timer, tmp_path):
    target, link = tmp_path / "data" / "rows.csv", tmp_path / "latest.csv"
    target.parent.mkdir()
    target.write_text("x\n1\n")
    link.symlink_to(target)
    r = running(FileSource(str(link)))
    r.until(lambda r: r.rows() == [[1, 1]])  # single values: against their row number
    append(target, "2\n")
    r.until(lambda r: r.rows() == [[1, 1], [2, 2]], seconds=5)


def test_without_inotify_the_timer_follows_the_file(running, monkeypatch, tmp_path):
    monkeypatch.setattr(file_watch, "_inotify", lambda: None)
    path = tmp_path / "log.csv"
    append(path, "t,v\n0,0\n", "w")
    r = running(FileSource(str(path)))
    r.until(lambda r: r.rows() == [[0, 0]])
    append(path, "1,1\n")
    r.until(lambda r: r.rows() == [[0, 0], [1, 1]], seconds=5)


def wake_ups(pid: int) -> int:
    """How often the process's main thread has gone to sleep and woken."""
    for line in open(f"/proc/{pid}/task/{pid}/status"):
        if line.startswith("voluntary_ctxt_switches:"):
            return int(line.split()[1])
    raise AssertionError("no voluntary_ctxt_switches")


def test_an_idle_file_costs_nothing_while_its_neighbours_change(tmp_path):
    path = tmp_path / "log.csv"
    path.write_text("a,b\n1,2\n")
    r = Run(FileSource(str(path)))
    try:
        r.until(lambda r: r.runs() == [[[1, 2]]])
        append(path, "3,4\n")  # events to take, then none
        r.until(lambda r: r.runs() == [[[1, 2], [3, 4]]])
        pid = r.producer.process.pid
        used, woken, started = cpu_seconds(pid), wake_ups(pid), time.monotonic()
        for i in range(200):  # another file in the same directory, busy for 1 s or more
            append(tmp_path / "other.log", f"{i}\n")
            time.sleep(0.005)
        # A reader on a timer of its own would wake 20 times a second.
        idle_wakes = (time.monotonic() - started) / file_watch.IDLE_CHECK
        assert wake_ups(pid) - woken <= 2 * idle_wakes + 2
        assert cpu_seconds(pid) - used < IDLE_CPU
    finally:
        r.producer.stop()

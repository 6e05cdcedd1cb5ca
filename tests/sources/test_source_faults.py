"""Faults of the user's data sources, with real processes: standard input
whose writer is killed in the middle of a line, a followed file whose path
turns into something that cannot be read as a file, a TCP client on
127.0.0.1 that goes away in the middle of a line. Each source runs in its
producer process beside a window: every row stored before the fault stays,
the end or the problem is shown, frames keep coming, the window closes
cleanly, and the producer never spins."""

from multiprocessing.connection import Connection
import os
from pathlib import Path
import signal
import socket
import struct
import subprocess

import numpy as np
import pytest

from tarvinel.stelvane.sources.producer import ProducerProcess
from tarvinel.stelvane.sources import FileSource, StdinSource, TcpSource

from tests.support.frames import assert_still_drawing, closed_within, stored_rows
from tests.support.network import free_port, send
from tests.support.producers import CONTEXT
from tests.support.running import IDLE_CPU, WAIT, cpu_seconds, python

ROWS = 300
TEXT = "t,v\n" + "".join(f"{i},{i * i}\n" for i in range(ROWS))


@pytest.fixture
def source_window(run_window):
    def start(source):
        return run_window(lambda queue: ProducerProcess(CONTEXT, queue, source=source))
    return start


def ends_in_time(qtbot, window, reason):
    """The source's end is shown, and the producer is gone soon after."""
    qtbot.waitUntil(lambda: window.watch.source_ended is not None, timeout=WAIT)
    assert window.watch.source_ended == reason
    assert window.status_bar.currentMessage() == f"source ended: {reason}"
    qtbot.waitUntil(lambda: not window.producer.is_alive(), timeout=5000)
    assert window.producer.process.exitcode == 0


def writer_into(write_end: int):
    """A process that writes the rows and part of a line into the pipe,
    says so on its standard error, and waits to be killed."""
    writer = python("""
        import os, sys, time
        os.write(1, sys.argv[1].encode() + b"300,9000")   # of "300,90000"
        sys.stderr.write("written"); sys.stderr.flush()
        time.sleep(60)
        """, TEXT, stdout=write_end, stderr=subprocess.PIPE)
    os.close(write_end)
    return writer


def test_standard_input_whose_writer_is_killed_mid_line(qtbot, source_window):
    read_end, write_end = os.pipe()
    window, clock = source_window(StdinSource(Connection(read_end, writable=False)))
    writer = writer_into(write_end)
    try:
        assert writer.stderr.read(7) == b"written"
        qtbot.waitUntil(lambda: len(window.point_dataset) == ROWS, timeout=WAIT)
        before = stored_rows(window.point_dataset)
        clock.mark_fault()
        writer.send_signal(signal.SIGKILL)
    finally:
        writer.wait(10)
    # A pipe's end cannot tell a killed writer from a last line without a
    # line end: the line is taken as it came, and the user is told.
    ends_in_time(qtbot, window,
                 f"end of standard input (its last line, {ROWS + 2}, had no line end)")
    assert_still_drawing(qtbot, window, clock, before)
    assert stored_rows(window.point_dataset)[ROWS:].tolist() == [[300, 9000]]
    assert window.problems.count == 0 and closed_within(window, 5)


def replace_with(path: Path, kind: str):
    """Puts something at `path` that no reader, root included, reads as a
    file; returns the socket's listener, to be closed at the end."""
    path.unlink()
    if kind == "a directory":
        path.mkdir()
    elif kind == "a FIFO":  # opening it would wait for a writer
        os.mkfifo(path)
    elif kind == "a socket":  # opening it fails
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(str(path))
        return listener
    else:  # a file that opens, and fails when read
        path.symlink_to("/proc/self/mem")
    return None


UNREADABLE = {"a directory": "it is a directory", "a FIFO": "it is a FIFO",
              "a socket": "No such device or address", "memory": "Input/output error"}


@pytest.mark.parametrize("kind", UNREADABLE)
def test_a_followed_file_whose_path_becomes_unreadable(qtbot, source_window, tmp_path, kind):
    path = tmp_path / "log.csv"
    path.write_text(TEXT)
    window, clock = source_window(FileSource(str(path)))
    qtbot.waitUntil(lambda: len(window.point_dataset) == ROWS, timeout=WAIT)
    before = stored_rows(window.point_dataset)
    clock.mark_fault()
    listener = replace_with(path, kind)
    try:
        reason = f"{path} can no longer be read: {UNREADABLE[kind]}"
        ends_in_time(qtbot, window, reason)
        assert [text for text, _ in window.problems.entries] == [reason]
        assert_still_drawing(qtbot, window, clock, stored_rows(window.point_dataset))
        # A replacement that opens begins a new run: the old rows go to the history.
        points = window.point_dataset
        runs = [np.array(run.rows) for run in points.history] + [stored_rows(points)]
        assert np.array_equal(np.concatenate(runs), before)
        assert closed_within(window, 5)
    finally:
        if listener is not None:
            listener.close()


def client_cut_mid_line(port: int, reset: bool) -> None:
    """A client that sends rows and part of a line, then closes: with a
    reset (SO_LINGER 0) or cleanly."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
        client.sendall(TEXT.encode() + b"300,3.1")  # of "300,3.14159"
        if reset:
            client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


@pytest.mark.parametrize("reset", [False, True], ids=["closed", "reset"])
def test_a_tcp_client_gone_mid_line(qtbot, source_window, reset):
    port = free_port()
    window, clock = source_window(TcpSource("127.0.0.1", port))
    status = window.status_bar
    qtbot.waitUntil(lambda: "listening" in status.currentMessage(), timeout=WAIT)
    clock.mark_fault()
    client_cut_mid_line(port, reset)
    outcome = "lost: Connection reset by peer" if reset else "closed"
    # The connection's run ends with it: its rows go to the history.
    points = window.point_dataset
    qtbot.waitUntil(lambda: status.currentMessage().endswith(outcome) and len(points.history) == 1,
                    timeout=WAIT)
    assert_still_drawing(qtbot, window, clock, stored_rows(window.point_dataset))
    rows = [list(row) for row in points.history[0].rows]
    assert rows[:ROWS] == [[i, i * i] for i in range(ROWS)]
    if reset:  # a number cut short would be stored as another number
        assert rows[ROWS:] == []
        [(problem, _)] = window.problems.entries
        assert problem.endswith(f"connection lost in the middle of line {ROWS + 2}; "
                                "the unfinished line was dropped")
    else:  # the client ended its data there: a last line without a line end
        assert rows[ROWS:] == [[300, 3.1]] and window.problems.count == 0
    # Still listening, without spinning; the next client is served.
    pid = window.producer.process.pid
    used = cpu_seconds(pid)
    qtbot.wait(1000)
    assert cpu_seconds(pid) - used < IDLE_CPU
    send(port, b"a,b\n1,2\n")
    qtbot.waitUntil(lambda: len(points.history) == 2, timeout=WAIT)
    assert points.history[1].rows == [(1, 2)] and points.column_names == ["a", "b"]
    assert window.watch.source_ended is None
    assert closed_within(window, 5)

"""Sources in a real producer process, writing into a real queue: a pipe
written by another process, a file appended to and truncated by another
process, TCP clients on 127.0.0.1, a pseudo-terminal as a serial port, and
producer scripts. Also the feed's checks, in the producer."""

from multiprocessing.connection import Connection
import os
import queue as queue_module
import time

import numpy as np
import pytest

from tarvinel.stelvane.sources.feed import Feed, FeedClosed
from tarvinel.stelvane.sources.producer import ProducerProcess
from tarvinel.stelvane.protocol import PN, PXY, ROLL, TD, TN, TXY
from tarvinel.stelvane.sources import (
    FileSource, FunctionSource, InstrumentSource, ScriptSource, SerialSource, SourceError, StdinSource,
    TcpSource, source_from_text)

from tests.support import running
from tests.support.network import free_port, send
from tests.support.producers import CONTEXT, Run
from tests.support.running import REPO_ROOT, python

EXAMPLES = REPO_ROOT / "examples"


@pytest.fixture
def run():
    started = []

    def start(source, **options):
        started.append(Run(source, **options))
        return started[-1]

    yield start
    for r in started:
        r.producer.stop()


def test_standard_input_from_another_process_through_a_pipe(run):
    read_end, write_end = os.pipe()
    r = run(StdinSource(Connection(read_end, writable=False)), pattern="t,v")
    writer = python("""
        import sys
        print("t,v")
        for i in range(20000):
            print(f"{i},{i * 0.5}")
            if 700 <= i < 730: print("7,oops")
            if i == 9999: print()
        """, stdout=write_end)
    os.close(write_end)
    writer.wait(30)
    r.until(lambda r: r.ended)
    assert r.items[:3] == [(PXY, "t,v"), (PN, ["t", "v"]), r.items[2]]
    first, second = r.runs()
    # A row with a value that does not read keeps its place, the value missing.
    rows = np.array(first + second, float)
    missing = np.isnan(rows[:, 1])
    assert missing.sum() == 30 and set(rows[missing, 0]) == {7}
    good = rows[~missing]
    assert np.array_equal(good, np.column_stack([np.arange(20000), np.arange(20000) / 2]))
    assert len(first) == 10030 and r.words().count(ROLL) == 1
    # Every bad value is counted; beyond ten a second they come summed up.
    problems = [m for m in r.messages if m[0] == "problem"]
    assert problems[0] == (
        "problem", "stdin line 703: 'oops' is not a number: '7,oops'; read as missing", 1)
    assert sum(m[2] for m in problems) == 30 and len(problems) <= 11
    assert r.ended == "end of standard input"


def test_standard_input_from_a_file(run, tmp_path):
    path = tmp_path / "rows.csv"  # stelvane - < rows.csv
    path.write_text("a b\n1 2\n3 4\n")
    r = run(StdinSource(Connection(os.open(path, os.O_RDONLY), writable=False)))
    r.until(lambda r: r.ended)
    assert r.runs() == [[[1, 2], [3, 4]]] and r.ended == "end of standard input"


def test_a_followed_file_grows_is_truncated_and_deleted(run, tmp_path):
    path = tmp_path / "log.csv"
    r = run(FileSource(str(path)))
    r.until(lambda r: r.of("info"))
    assert r.of("info") == [f"waiting for {path}"]

    def write(mode, text):
        running.write(path, mode, text)

    write("w", "time,x\n1,10\n2,")       # the last line is unfinished
    r.until(lambda r: r.runs() == [[[1, 10]]])
    write("a", "20\n3,30\n")
    r.until(lambda r: r.runs() == [[[1, 10], [2, 20], [3, 30]]])
    write("w", "")                        # truncated
    write("a", "time,y,z\n5,6,7\n")
    r.until(lambda r: len(r.runs()) == 2)
    assert r.runs()[1] == [[5, 6, 7]] and (PN, ["time", "y", "z"]) in r.items
    write("rm", "")
    r.until(lambda r: r.ended)
    assert r.ended == "the file was deleted" and r.of("problem") == []
    assert r.words().count(ROLL) == 1


def test_a_fifo_named_as_the_file_is_read_as_a_stream(run, tmp_path):
    path = tmp_path / "rows"
    os.mkfifo(path)
    r = run(FileSource(str(path)))
    # Its writer waits until the producer has opened it.
    writer = python("import sys; open(sys.argv[1], 'w').write(sys.argv[2])", path, "a\n1\n2")
    assert writer.wait(30) == 0
    r.until(lambda r: r.ended)
    # Single values, live: they plot against the time they came.
    [[(came, one), (later, two)]] = r.runs()
    assert (one, two) == (1, 2) and time.time() - 60 < came <= later <= time.time()
    assert r.ended == f"end of {path}"


@pytest.mark.parametrize("exists, ended", [(True, "end of file"), (False, "the file does not exist")])
def test_a_file_read_once(run, tmp_path, exists, ended):
    path = tmp_path / "once.tsv"
    if exists:
        path.write_text("a\tb\n1\t2\n3\t4")
    r = run(source_from_text(str(path), follow=False)).until(lambda r: r.ended)
    assert r.ended == ended
    assert r.runs() == ([[[1, 2], [3, 4]]] if exists else [])


def test_tcp_connections_one_at_a_time_and_garbage_closes_its_own(run):
    port = free_port()
    r = run(TcpSource("127.0.0.1", port))
    r.until(lambda r: r.of("info"))
    assert r.of("info") == [f"listening on tcp://127.0.0.1:{port}"]
    send(port, b"a,b\n1,2\n3,4\n")
    r.until(lambda r: r.words().count(ROLL) == 1)
    send(port, b"c,d,e\n5,6,7\n")
    r.until(lambda r: r.words().count(ROLL) == 2)
    garbage = bytes(np.random.default_rng(5).integers(11, 256, 20000, dtype=np.uint8))
    # Lines of garbage, none empty (a lone CR would end a line too).
    garbage = garbage.replace(b"\r", b"").replace(b"#", b"\n#")
    send(port, b"c,d,e\n8,9,10\n" + garbage + b"\n11,12,13\n" + b"x" * (1 << 21))
    r.until(lambda r: r.words().count(ROLL) == 3)
    assert r.runs()[:3] == [[[1, 2], [3, 4]], [[5, 6, 7]], [[8, 9, 10], [11, 12, 13]]]
    assert [w for w in r.words() if w == PN] == [PN] * 3
    closed = [p for p in r.of("problem") if "connection closed" in p]
    assert len(closed) == 1 and "longer than 1,048,576 bytes" in closed[0]
    assert r.ended is None  # still listening: the next client is welcome
    send(port, b"a\n1\n")
    r.until(lambda r: r.words().count(ROLL) == 4)
    [[came, value]] = r.runs()[-1]  # a single value plots against its arrival
    assert value == 1 and time.time() - 60 < came <= time.time()


def test_a_serial_port(run):
    pytest.importorskip("serial")
    controller, device = os.openpty()
    try:
        r = run(SerialSource(os.ttyname(device), 9600))
        r.until(lambda r: r.of("info"))  # opening a port drops what it held before
        assert r.of("info") == [f"reading serial:{os.ttyname(device)}@9600"]
        os.write(controller, b"t v\n")
        for i in range(5):
            os.write(controller, f"{i} {i * i}\r\n".encode())
        r.until(lambda r: sum(map(len, r.runs())) == 5 or len(r.runs()) > 1)
        assert r.runs() == [[[i, i * i] for i in range(5)]]
    finally:
        os.close(controller)
        os.close(device)


def test_example_scripts_run_in_the_producer(run):
    sweep = run(ScriptSource(str(EXAMPLES / "sweep.py")))
    oscillator = run(ScriptSource(str(EXAMPLES / "oscillator.py")))
    sweep.until(lambda r: r.ended)
    assert sweep.ended == "produce() returned"
    traces = [data for word, data in sweep.items if word == TD]
    assert len(traces) == 3 and all(t.shape == (501, 2) for t in traces)
    assert (TN, ["freq", "H"]) in sweep.items and (TXY, "freq,H") in sweep.items
    oscillator.until(lambda r: r.words().count(ROLL) >= 1)
    first = oscillator.runs()[0]
    assert len(first) == 2000 and oscillator.items[:2] == [
        (PN, ["time", "position", "velocity", "energy"]),
        (PXY, "time,(position|velocity|energy)")] and (PXY, "time,(position|velocity)") in oscillator.items


def test_a_script_that_raises_reports_its_traceback(run, tmp_path):
    script = tmp_path / "broken.py"
    script.write_text("def produce(feed):\n    feed.columns(['a'])\n    feed.row([1.0])\n"
                      "    feed.row([1.0, 2.0])\n")
    r = run(ScriptSource(str(script))).until(lambda r: r.ended)
    [trace] = r.of("traceback")
    assert f'File "{script}", line 4, in produce' in trace
    assert trace.rstrip().endswith("ValueError: row: 2 values, 1 columns expected (a)")
    assert r.ended.startswith(f"{script} raised ValueError")
    assert r.runs() == [[[1.0]]]  # the row before the mistake arrived


def holds(producer, target):
    """Whether the producer process has `target` open (a path, or the stat
    of a descriptor of this process: the same pipe)."""
    folder = f"/proc/{producer.process.pid}/fd"
    for fd in os.listdir(folder):
        try:
            if isinstance(target, str):
                if os.readlink(f"{folder}/{fd}") == target:
                    return True
            elif os.stat(f"{folder}/{fd}").st_ino == target.st_ino:
                return True
        except FileNotFoundError:  # closed meanwhile
            pass
    return False


def said(text):
    """Whether the producer has said `text` yet (its messages kept as they come)."""
    heard = []

    def waiting(producer, queue):
        heard.extend(producer.messages())
        return any(text in message[1] for message in heard)

    return waiting


def blocked_sources(tmp_path):
    """Each source waiting for what never comes, and how the test sees that
    its producer has got that far: (source, descriptor to close, waiting)."""
    script = tmp_path / "busy.py"
    script.write_text("def produce(feed):\n    feed.columns(['a'])\n"
                      "    while True:\n        feed.rows([[1.0]] * 1000)\n")
    read_end, write_end = os.pipe()
    pipe = os.fstat(read_end)
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)  # no writer comes
    return {
        "stdin": (StdinSource(Connection(read_end, writable=False)), write_end,
                  lambda producer, queue: holds(producer, pipe)),
        "fifo": (FileSource(fifo), None, lambda producer, queue: holds(producer, fifo)),
        "tcp": (TcpSource("127.0.0.1", free_port()), None, said("listening on")),
        "file": (FileSource(str(tmp_path / "never.csv")), None, said("waiting for")),
        "script": (ScriptSource(str(script)), None, lambda producer, queue: queue.full()),
    }


@pytest.mark.parametrize("kind", ["stdin", "fifo", "tcp", "file", "script"])
def test_closing_the_window_ends_a_waiting_producer_at_once(tmp_path, kind):
    source, keep_open, waiting = blocked_sources(tmp_path)[kind]
    queue = CONTEXT.Queue(3)  # a script fills it and waits for room
    producer = ProducerProcess(CONTEXT, queue, source=source)
    producer.start()
    end = time.monotonic() + 20
    while not waiting(producer, queue) and time.monotonic() < end:
        time.sleep(0.02)
    assert waiting(producer, queue) and producer.is_alive()
    time.sleep(0.1)  # from what the test sees to the wait itself: a few lines
    start = time.monotonic()
    # Exit status 0: it ended by itself, not by the terminate that follows
    # the timeout. Its waits watch the stop pipe, so it ends within a
    # fraction of a second on a quiet machine; the bound leaves room for an
    # interpreter shutting down under the sanitizers on a loaded one.
    assert producer.stop(timeout=5) == 0
    assert time.monotonic() - start < 3.0
    if keep_open is not None:
        os.close(keep_open)


def produce_nothing(feed):
    """A produce(feed) function of the caller's, for its settings key."""


def test_each_source_text_names_its_source_and_the_key_its_settings_have_always_had(
        tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "make.py").write_text("def produce(feed):\n    pass\n")
    # The keys users' settings files hold: the text as written for "-",
    # tcp:// and serial:, a full path for a file and a script.
    for text, kind, key in [
        ("-", StdinSource, "-"),
        ("tcp://LocalHost:5000/", TcpSource, "tcp://LocalHost:5000/"),
        ("serial:/dev/ttyUSB0", SerialSource, "serial:/dev/ttyUSB0"),
        ("serial:/dev/pts.py@9600", SerialSource, "serial:/dev/pts.py@9600"),
        ("make.py", ScriptSource, str(tmp_path / "make.py")),
        ("runs/data.csv", FileSource, str(tmp_path / "runs" / "data.csv")),
    ]:
        source = source_from_text(text)
        assert (type(source), source.settings_key) == (kind, key), text
    assert source_from_text("tcp://[::1]:5000").describe == "tcp://[::1]:5000"
    assert FunctionSource(produce_nothing).settings_key == f"show:{__name__}.produce_nothing"
    assert InstrumentSource().settings_key == "instrument"


@pytest.mark.parametrize("text, complaint", [
    ("tcp://:5000", "the host is required"),
    ("tcp://127.0.0.1", "write tcp://HOST:PORT"),
    ("serial:", "serial:DEVICE"),
    ("serial:/dev/ttyUSB0@fast", "no positive number"),
    ("nowhere.py", "no such producer script"),
])
def test_source_texts_that_name_nothing_usable(text, complaint):
    with pytest.raises(SourceError, match=complaint):
        source_from_text(text)


def test_the_feed_checks_in_the_producer_and_stops_with_the_window():
    queue = CONTEXT.Queue(2)
    stop, window = CONTEXT.Pipe(duplex=False)
    feed = Feed(queue, stop)
    with pytest.raises(ValueError, match="before any column names"):
        feed.rows(np.zeros((2, 2)))
    feed.columns(["t", "x y;z"])
    for bad, error, text in [
        ([1.0], ValueError, r"row: 1 values, 2 columns expected \(t, x y;z\)"),
        ([1.0, "2"], TypeError, "values are numbers"),
    ]:
        with pytest.raises(error, match=text):
            feed.row(bad)
    with pytest.raises(ValueError, match="rows of 3 values, 2 columns expected"):
        feed.rows(np.zeros((4, 3)))
    with pytest.raises(ValueError, match="rows of different lengths"):
        feed.rows([[1, 2], [3]])
    assert [queue.get(timeout=5) for _ in range(2)] == [
        (PN, ["t", "x y;z"]), (PXY, r"t,x\x20y\x3bz")]
    assert queue.empty()  # nothing of the refused calls was queued
    # The same names again leave a pattern typed meanwhile alone; new names
    # bring the first-column pattern.
    for names, items in [(["t", "x y;z"], [(PN, ["t", "x y;z"])]),
                         (["u", "w"], [(PN, ["u", "w"]), (PXY, r"u,w")]),
                         (["t", "x y;z"], [(PN, ["t", "x y;z"]), (PXY, r"t,x\x20y\x3bz")])]:
        feed.columns(names)
        assert [queue.get(timeout=5) for _ in items] == items
    feed.row([1, 2.5])
    feed.rows([[3, 4]])
    window.close()  # the window closes while the feed waits for room
    start = time.monotonic()
    with pytest.raises(FeedClosed):
        feed.rows(np.ones((5, 2)))
    assert time.monotonic() - start < 1 and not feed.sleep(10)
    queue.cancel_join_thread()


def test_the_same_trace_names_again_leave_the_trace_pattern_alone():
    # As for point columns: a trace pattern the user typed in the window
    # stays when the producer announces the names it had announced before.
    queue = queue_module.Queue()
    feed = Feed(queue)
    for names in (["f", "S21"], ["f", "S21"], ["g", "S11"]):
        feed.trace_columns(names)
    assert [queue.get_nowait() for _ in range(queue.qsize())] == [
        (TN, ["f", "S21"]), (TXY, r"f,S21"), (TN, ["f", "S21"]),
        (TN, ["g", "S11"]), (TXY, r"g,S11")]

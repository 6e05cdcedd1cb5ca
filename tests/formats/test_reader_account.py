"""Every line a text stream reads is accounted for: data, passed over with a
kind, or a problem naming it; an exception inside a reader is one problem
of the line it came from, and reading goes on. Through make_reader and a
real Feed, and through the app's --summary."""

import codecs
import json
import os
import queue
import random
import re
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tarvinel.stelvane.sources.feed import Feed
from tarvinel.stelvane.formats import FORMAT_CHOICES, ReadOptions, make_reader
from tarvinel.stelvane.formats import tableblock
from tarvinel.stelvane.protocol import PD, PN
from tarvinel.stelvane.sources.status import Status

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Account:
    """One stream read to its end: the rows stored, the names, the problems
    and the last account the reader handed on."""

    def __init__(self, data: bytes, step: int | None = None, restart_at: int | None = None,
                 **options):
        self.queue, self.problems, self.lines = queue.Queue(), [], {}
        reader = make_reader(Feed(self.queue), self.problems.append, name="in",
                             options=ReadOptions(**options),
                             lines=lambda name, account: self.lines.update(account))
        step = step or len(data) or 1
        for i in range(0, len(data), step):
            if restart_at is not None and i == restart_at:
                reader.restart()
            reader.take(data[i:i + step])
        reader.finish()
        self.rows, self.names = 0, None
        while not self.queue.empty():
            word, payload = self.queue.get()
            if word == PD:
                self.rows += len(getattr(payload, "block", payload))
            elif word == PN:
                self.names = list(payload)

    @property
    def balanced(self) -> bool:
        lines = self.lines
        return lines["total"] == lines["data"] + sum(lines["skipped"].values()) + lines["problems"]


def line_count(data: bytes) -> int:
    """Lines as a file holds them: each ends at LF, CRLF or a lone CR, or at
    the end (in the text a byte-order mark of UTF-16 or UTF-32 says)."""
    for mark, encoding in ((codecs.BOM_UTF32_LE, "utf-32"), (codecs.BOM_UTF32_BE, "utf-32"),
                           (codecs.BOM_UTF16_LE, "utf-16"), (codecs.BOM_UTF16_BE, "utf-16")):
        if data.startswith(mark):
            data = data.decode(encoding, "replace").encode()
            break
    return len(re.findall(rb"\r\n|\r|\n", data)) + (bool(data) and data[-1:] not in b"\r\n")


VMSTAT = (b"procs -----------memory---------- ---swap-- -----io---- -system-- ------cpu-----\n"
          b" r  b   swpd   free   buff  cache   si   so    bi    bo   in   cs us sy id wa st\n"
          + b" 1  0      0 2119415  34644 3295340    0    0   10  2830  258  709 34  6 60  0  0\n" * 3)
SAR = (b"Linux 6.1.0 (host) \t12/08/2026 \t_x86_64_\t(2 CPU)\n\n"
       b"10:00:01 AM     CPU     %user     %nice   %system\n"
       b"10:00:02 AM     all      1.00      0.00      0.50\n"
       b"10:00:03 AM     all      2.00      0.00      0.50\n"
       b"Average:        all      1.50      0.00      0.50\n")
TOP = (b"top - 10:00:01 up  8:19,  0 user,  load average: 0.62, 0.90, 1.04\n"
       b"%Cpu(s):  0.0 us,  0.0 sy,  0.0 ni,100.0 id,  0.0 wa,  0.0 hi,  0.0 si,  0.0 st\n\n"
       b"  PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND\n"
       b"    1 root      20   0   58100  11004   8040 S   0.0   0.0   0:01.20 init\n"
       b" 9028 root      20   0   20.0t  14388   7812 S   0.0   0.1   0:00.03 python\n"
       b"   18 root      rt   0       0      0      0 S   0.0   0.0   0:00.00 migration/0\n\n")
SHAPES = {  # name: (bytes, options, rows stored, the skipped kinds, problems)
    # (a marked row gathers the lines of its values: `>a:1` and `>b:2` are one)
    "plain csv": (b"# made by hand\nt,v\n0,1\n1,2\n\n2,3\n", {}, 3,
                  {"comment": 1, "names": 1, "blank": 1}, 0),
    "typed table": (b"Logger 7\ntime;volt\n[s];[V]\n2026-12-08 10:00:00;1,5\n"
                    b"2026-12-08 10:00:01;x\n2026-12-08 10:00:02;1,7\n2026-12-08 10:00:03\n", {},
                    3, {"title": 1, "names": 1, "units": 1}, 1),  # "x": a row, its value missing
    "vmstat": (VMSTAT + VMSTAT, {}, 6, {"title": 1, "names": 1, "repeated header": 2}, 0),
    # (two screens, the second one process longer: the rows begin under the
    # first names line; the second CPU line, of another shape, a problem)
    "top": (TOP + TOP.replace(b"ni,100.0 id", b"ni, 99.0 id").replace(b"migration/0\n", (
        b"migration/0\n 9100 root      20   0    2920   1668   1560 S   0.0   0.0   0:00.00 sleep\n")),
        {}, 7, {"title": 2, "blank": 4, "names": 1, "repeated header": 2}, 1),
    "sar": (SAR, {}, 2, {"title": 1, "blank": 1, "names": 1, "summary": 1}, 0),
    "sar, 24-hour": (SAR.replace(b" AM ", b"    ") + b"Average:        all      1.50\n", {}, 2,
                     {"title": 1, "blank": 1, "names": 1, "summary": 2}, 0),
    "label:value": (b"temp:1,hum:2\n# note\nsome words, here\ntemp:2,hum:3\n", {}, 2,
                    {"comment": 1}, 1),
    "marked": (b"booting\n>a:1\n>b:2\n>a:3\n>b:4\n", {}, (2, 4), {"title": 1}, 0),
    "json lines": (b'{"a": 1}\n{"a": 2}\nnot json\n{}\n', {}, 2, {}, 2),
    "plain text": (b"x y\n1 2\n#@pattern x,y\n#@bogus\n3 4\n5\n", {"format": "text"}, 2,
                   {"names": 1, "directive": 1}, 2),
}


@pytest.mark.parametrize("shape", SHAPES)
def test_every_line_is_data_skipped_with_a_kind_or_a_problem(shape):
    data, options, rows, skipped, problems = SHAPES[shape]
    rows, data_lines = rows if isinstance(rows, tuple) else (rows, rows)
    for step in (None, 7):  # at once, and in pieces that cut lines anywhere
        read = Account(data, step=step, **options)
        assert read.rows == rows, read.problems
        assert read.lines == {"total": line_count(data), "data": data_lines, "skipped": skipped,
                              "problems": problems}, read.problems
        assert len([p for p in read.problems if " line " in p]) >= problems


FAULTS = {  # name: (bytes, the line that is a problem, rows read after it)
    "a quoted field, then a lone CR": (b'a,b\n"x",1\r2,3\n' + b"4,5\n" * 5, 2, 5),
    "10,001 fields among the first lines": (b",".join([b"1"] * 10_001) + b"\n" + b"1,2\n" * 5,
                                            1, 5),
    "JSON nested 1,000 deep": (b'{"a": 1}\n' + b'{"a":' * 1000 + b"1" + b"}" * 1000 + b"\n"
                               + b'{"a": 2}\n' * 5, 2, 6),
}


@pytest.mark.parametrize("fault", FAULTS)
def test_what_once_raised_is_one_problem_and_reading_goes_on(fault):
    data, line, rows = FAULTS[fault]
    read = Account(data)
    assert read.rows >= rows
    assert any(f"in line {line}:" in p for p in read.problems), read.problems
    assert read.balanced and read.lines["total"] == line_count(data)


def test_an_exception_inside_the_parse_is_a_problem_of_its_line(monkeypatch):
    real = tableblock._textrows.parse_table

    def parse_table(parser, data, rows):
        if b"boom" in data:
            raise MemoryError("the parse gave up")
        return real(parser, data, rows)

    monkeypatch.setattr(tableblock._textrows, "parse_table", parse_table)
    data = b"t,state\n" + b"".join(b"%d,%s\n" % (i, b"boom" if i == 30 else b"on")
                                   for i in range(60))
    read = Account(data)
    assert read.rows == 59 and read.names == ["t", "state"]
    assert [p for p in read.problems if "MemoryError" in p] == [
        "in line 32: could not be read (MemoryError: 'the parse gave up'): '30,boom'"]
    assert read.lines["problems"] == 1 and read.balanced


def test_lines_held_for_the_decision_are_read_when_the_stream_restarts():
    data = b"t,v\n0,1\n1,2\n"
    read = Account(data + data, step=len(data), restart_at=len(data))
    assert read.rows == 4
    assert read.lines == {"total": 6, "data": 4, "skipped": {"names": 2}, "problems": 0}


def test_lines_beyond_a_header_of_comments_are_not_lost():
    data = b"# note\n" * 300 + b"t,v\n0,1\n1,2\n"
    read = Account(data)
    assert read.rows == 2 and read.names == ["t", "v"]
    assert read.lines["skipped"] == {"comment": 300, "names": 1} and read.balanced


# --- fuzz: random bytes and mutated tables, through every reader and chunking ---------

TABLES = [SHAPES[name][0] for name in SHAPES] + [
    b"a\tb\tc\n1\t2\t3\n4\t5\t6\n",
    b'"x","y"\n"1","2"\n"3","4"\n',
    b"\xef\xbb\xbfdate,v\n2026-12-08,1\n2026-12-09,2\n",
    b't,v\n0,1\n#@marker t,0.5,"valve, opened"\n1,2\n#@marker t,nan,x\n2,3\n',
    b"               total        used\nMem:        2468        146\nSwap:          0          0\n",
    b"  PID %CPU CMD\n    1  0.5 /sbin/init splash\n    2  0.0 [kthreadd]\n   30  1.5 python3 -m x\n",
]
NOISE = [b"\r", b"\n", b'"', b",", b"\t", b"#", b"#@", b"\x00", b"\xff", b"{", b"}", b"[", b"]",
         b":", b"=", b">", b"|", b"\\", b"NA", b"1e999", b"-", b" ", b"\r\n", b"'", b"(", b")"]


def mutated(table: bytes, rng: random.Random) -> bytes:
    data = bytearray(table)
    for _ in range(rng.randint(1, 6)):
        at = rng.randint(0, len(data))
        choice = rng.random()
        if choice < 0.5:
            data[at:at] = rng.choice(NOISE)
        elif choice < 0.75:
            del data[at:at + rng.randint(1, 5)]
        else:
            lines = bytes(data).split(b"\n")
            line = rng.choice(lines)
            data[at:at] = line + b"\n"
    return bytes(data)


def assert_read_well(data: bytes, fmt: str, step: int) -> None:
    read = Account(data, step=step, format=fmt)
    assert read.balanced, (data, read.lines)
    assert read.lines["total"] == line_count(data), (data, read.lines)


@settings(max_examples=120, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.binary(max_size=300), st.sampled_from(FORMAT_CHOICES), st.integers(1, 64))
def test_random_bytes_never_raise_and_balance(data, fmt, step):
    assert_read_well(data, fmt, step)


def test_mutated_tables_never_raise_and_balance():
    rng = random.Random(29)
    for _ in range(150):
        data = mutated(rng.choice(TABLES), rng)
        assert_read_well(data, rng.choice(FORMAT_CHOICES), rng.randint(1, 40))


def test_the_status_pipe_carries_the_latest_account_of_each_stream():
    sent = []
    status = Status()
    status.send = lambda *message: sent.append(message)
    status.lines("a", {"total": 1})
    status.lines("a", {"total": 2})  # within the interval: held
    status.lines("b", {"total": 5})
    assert sent == [("lines", "a", {"total": 1})]
    status.ended("end")
    assert sent[1:] == [("lines", "a", {"total": 2}), ("lines", "b", {"total": 5}),
                        ("ended", "end")]


def test_the_summary_gives_the_lines_account(tmp_path):
    path = tmp_path / "log.csv"
    path.write_bytes(b"# logger\nt,v\n0,1\n1,2,3\n\n2,3\n")
    env = dict(os.environ, PYTHONPATH=REPO_ROOT)
    app = subprocess.run([sys.executable, "-m", "tarvinel.stelvane", str(path), "--no-follow",
                          "--seconds", "2", "--summary"], env=env, capture_output=True, text=True,
                         timeout=60)
    assert app.returncode == 0 and "Traceback" not in app.stderr, app.stderr
    summary = json.loads(app.stdout.strip().splitlines()[-1])
    assert summary["points"] == 2
    assert summary["lines"] == {"total": 6, "data": 2, "problems": 1,
                                "skipped": {"blank": 1, "comment": 1, "names": 1}}

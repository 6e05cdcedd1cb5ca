"""Shapes of text streams the reader takes as a user expects: encodings and
line ends, through make_reader and a real Feed."""

import queue
import shutil
import subprocess
import time

import numpy as np
import pytest

from tarvinel.stelvane.sources.feed import Feed
from tarvinel.stelvane.formats import ReadOptions, make_reader
from tarvinel.stelvane.protocol import NUMBER, PD, PN, TEXT, TIME, TextRows


class Read:
    """A stream read to its end: names, rows, the words of text columns,
    problems and the lines account."""

    def __init__(self, data: bytes, step: int | None = None, added_x=None, **options):
        commands, self.problems, self.lines = queue.Queue(), [], {}
        reader = make_reader(Feed(commands), self.problems.append, name="in",
                             options=ReadOptions(**options), added_x=added_x,
                             lines=lambda name, account: self.lines.update(account))
        step = step or len(data) or 1
        for i in range(0, len(data), step):
            reader.take(data[i:i + step])
        reader.finish()
        self.names, self.kinds, self.words, blocks = None, None, {}, []
        while not commands.empty():
            word, payload = commands.get()
            if word == PN:
                self.names = list(payload)
                self.kinds = getattr(payload, "kinds", (NUMBER,) * len(payload))
            elif word == PD:
                blocks.append(payload.block if isinstance(payload, TextRows) else payload)
                for column, learnt in getattr(payload, "words", {}).items():
                    self.words.setdefault(column, []).extend(learnt)
        self.rows = np.concatenate(blocks) if blocks else np.empty((0, 0))


TABLE = "t,v,who\n" + "".join(f"{i},{i / 4},{'Müller' if i % 2 else 'Øst'}\n" for i in range(200))


@pytest.mark.parametrize("encoding, named", [
    ("utf-8", None), ("utf-8-sig", None), ("utf-16", "utf-16-le"), ("utf-32", "utf-32-le"),
    ("latin-1", "latin-1"),
])
@pytest.mark.parametrize("step", [None, 5])
def test_encodings_read_alike_and_a_fallback_is_said_once(encoding, named, step):
    read = Read(TABLE.encode(encoding), step)
    assert read.names == ["t", "v", "who"] and read.kinds[2] == TEXT
    assert len(read.rows) == 200 and read.rows[7, 1] == 1.75
    assert read.words == {2: ["Øst", "Müller"]}
    assert read.lines.get("encoding") == named
    latin = ["in line 2: bytes that are no UTF-8: read as Latin-1 from here on"]
    assert read.problems == (latin if encoding == "latin-1" else [])


@pytest.mark.parametrize("end", [b"\n", b"\r\n", b"\r"])
@pytest.mark.parametrize("step", [None, 1, 7])
def test_lf_crlf_and_a_lone_cr_each_end_a_line(end, step):
    data = end.join([b"t,v", *(b"%d,%d" % (i, i * i) for i in range(50))]) + end
    read = Read(data, step)
    assert read.names == ["t", "v"] and read.rows.shape == (50, 2)
    assert read.rows[-1].tolist() == [49, 49 * 49]
    assert read.lines == {"total": 51, "data": 50, "skipped": {"names": 1}, "problems": 0}


def test_mixed_line_ends_and_a_cr_at_the_very_end():
    data = b"t,v\r\n0,1\r1,2\n2,3\r\n3,4\r"
    for step in (None, 1, 2, 3):
        read = Read(data, step)
        assert read.rows.tolist() == [[0, 1], [1, 2], [2, 3], [3, 4]]
        assert read.lines["total"] == 5 and not read.problems


# --- an X for every stream ------------------------------------------------------

VMSTAT = (b"procs -----------memory---------- ---swap--\n r  b   swpd   free   si   so\n"
          + b"".join(b" %d  0      0 %d    0    0\n" % (i % 3, 2119415 - i) for i in range(20)))


def test_a_table_whose_x_does_not_grow_gets_the_row_number_from_a_file():
    read = Read(VMSTAT, added_x="row")
    assert read.names == ["row", "r", "b", "swpd", "free", "si", "so"]
    assert read.rows[:, 0].tolist() == list(range(1, 21))
    assert read.rows[:3, 1].tolist() == [0, 1, 2]


def test_a_live_stream_gets_the_arrival_time_and_single_values_plot_against_it():
    before = time.time()
    read = Read(b"1.5\n1.7\n1.6\n", step=4, added_x="arrival")
    assert read.names == ["arrival", "c1"] and read.kinds == (TIME, NUMBER)
    assert before <= read.rows[0, 0] <= read.rows[-1, 0] <= time.time()
    assert read.rows[:, 1].tolist() == [1.5, 1.7, 1.6]


@pytest.mark.parametrize("text", [
    "t,v\n0,5\n1,3\n2,4\n",                       # a rising first column
    "idx,v\n0,5\n0,3\n0,4\n",                     # named as counting the rows
    "when,v\n2026-12-08 10:00:00,1\n2026-12-08 10:00:00,2\n",  # a time column
    "name,v\nalpha,1\nbeta,2\n",                  # v rises
])
def test_a_table_with_a_growing_x_is_read_as_it_is(text):
    read = Read(text.encode(), added_x="row")
    assert "row" not in read.names and read.names[1] == "v"


def test_real_vmstat_output_plots_against_the_row_number():
    if shutil.which("vmstat") is None:
        pytest.skip("vmstat is not installed")
    output = subprocess.run(["vmstat"], capture_output=True, timeout=20,
                            env={"LC_ALL": "C", "PATH": "/usr/bin:/bin"}).stdout
    read = Read(output + output.splitlines(True)[-1], added_x="row")
    assert read.names[:2] == ["row", "r"] and read.rows[:, 0].tolist() == [1, 2]
    assert read.lines["skipped"] == {"names": 1, "title": 1} and read.lines["data"] == 2


def test_a_live_table_waits_until_its_rows_tell_whether_x_grows():
    commands = queue.Queue()
    reader = make_reader(Feed(commands), [].append, added_x="arrival")
    reader.take(VMSTAT[:VMSTAT.index(b"\n", VMSTAT.index(b" 0  0")) + 1])
    assert commands.empty()  # one row: r may be a count or a queue length
    came = time.time()
    reader.take(b" 0  0      0 2119414    0    0\n")
    sent = [commands.get() for _ in range(commands.qsize())]
    assert sent[0][1] == ["arrival", "r", "b", "swpd", "free", "si", "so"]
    rows = np.concatenate([payload for word, payload in sent if word == PD])
    assert rows[0, 0] <= came <= rows[1, 0] and rows[:, 4].tolist() == [2119415, 2119414]
    # Two values rising are no evidence (vmstat's r from 2 to 3); a third that
    # falls back says r is no X, one more rising every step says a is.
    for rows, names in ((b"2,2\n3,4\n", ["arrival", "r", "b"]), (b"1,2\n3,4\n", ["a", "b"])):
        told = queue.Queue()
        reader = make_reader(Feed(told), [].append, added_x="arrival")
        reader.take(b"%s,b\n%s" % (names[-2].encode(), rows))
        assert told.empty()
        reader.take(b"3,1\n" if names[0] == "arrival" else b"5,1\n")
        sent = [told.get() for _ in range(told.qsize())]
        assert [list(p) for w, p in sent if w == PN] == [names]


def test_labels_without_end_stop_at_a_cap_said_once():
    data = b"".join(b"label%d:%d\n" % (i, i) for i in range(10_000))
    started = time.perf_counter()
    read = Read(data)
    assert time.perf_counter() - started < 2.0  # linear: 10,000 labels in well under a second
    assert len(read.names) == 500 and len(read.rows) == 500
    capped = [p for p in read.problems if "more than 500 names" in p]
    assert capped == ["in line 501: more than 500 names: the values of 'label500' and of "
                      "further new names are dropped: 'label500:500'"]
    assert read.lines == {"total": 10_000, "data": 500, "skipped": {}, "problems": 9_500}


# --- headers of the field -------------------------------------------------------

TOUCHSTONE = (b"! made by a network analyser\n# Hz S RI R 50\n!freq ReS11 ImS11\n"
              + b"".join(b"%d %.2f %.2f\n" % (1e6 * (i + 1), 0.5 - i / 100, i / 200)
                         for i in range(20))
              + b"! second sweep\n" + b"21000000 0.30 0.10\n")


@pytest.mark.parametrize("step", [None, 9])
def test_bang_comments_name_the_columns_and_are_no_rows(step):
    read = Read(TOUCHSTONE, step)
    assert read.names == ["freq", "ReS11", "ImS11"] and len(read.rows) == 21
    assert read.rows[-1].tolist() == [21e6, 0.3, 0.1] and not read.problems
    assert read.lines == {"total": 25, "data": 21, "skipped": {"comment": 3, "names": 1},
                          "problems": 0}


def test_a_rule_under_the_names_and_rows_drawn_between_bars():
    table = b"| t | v |\n|---|---:|\n" + b"".join(b"| %d | %d.5 |\n" % (i, i) for i in range(10))
    read = Read(table)
    assert read.names == ["t", "v"] and read.rows[3].tolist() == [3, 3.5]
    assert read.lines["skipped"] == {"names": 1, "title": 1} and not read.problems


def test_a_framed_header_of_names_types_and_units_over_aligned_rows():
    table = (b"\\fixlen = T\n|   ra   |  dec  | mag |\n|  double | double | real |\n"
             b"|   deg  |  deg  |     |\n"
             + b"".join(b"  %d.1  -%d.2  %d.3\n" % (i, i, i) for i in range(10)))
    read = Read(table)
    assert read.names == ["ra", "dec", "mag"] and read.rows[2].tolist() == [2.1, -2.2, 2.3]
    assert read.lines == {"total": 14, "data": 10, "skipped": {"names": 1, "title": 3},
                          "problems": 0}


# --- line formats ---------------------------------------------------------------

def test_the_line_protocol_gives_tags_as_words_fields_as_numbers_and_the_time():
    data = b"".join(b"weather,site=%s temp_c=%.1f,count=%di,ok=t %d\n"
                    % (b"ab"[i % 2:i % 2 + 1], 5 + i / 10, i, 1264129200000000000 + i * 10**9)
                    for i in range(10)) + b"weather,site=a broken\n"
    read = Read(data)
    assert read.names == ["measurement", "site", "temp_c", "count", "ok", "time"]
    assert read.kinds == (TEXT, TEXT, NUMBER, NUMBER, NUMBER, TIME)
    assert read.rows[3, 2:].tolist() == [5.3, 3, 1, 1264129203.0]
    assert read.words == {0: ["weather"], 1: ["a", "b"]}
    assert read.problems == ["in line 11: no point of the line protocol: 'weather,site=a broken'"]
    assert read.lines == {"total": 11, "data": 10, "skipped": {}, "problems": 1}


def test_a_header_that_lists_the_columns_one_a_line_names_them():
    catalogue = (b"#   1 NUMBER      Running object number\n"
                 b"#   2 FLUX_AUTO   Flux within a Kron-like aperture   [count]\n"
                 b"#   3 X_IMAGE     Object position along x   [pixel]\n"
                 + b"".join(b"%10d %12.4f %10.3f\n" % (i + 1, 100.5 * i, 3.2 * i)
                            for i in range(10)))
    read = Read(catalogue)
    assert read.names == ["NUMBER", "FLUX_AUTO", "X_IMAGE"] and read.rows.shape == (10, 3)
    assert read.lines["skipped"] == {"comment": 3}

"""The reader every source uses (formats.make_reader): bytes as real tools
write them in, the queue's commands out, through a real Feed."""

import queue
from datetime import datetime

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarvinel.stelvane.sources.feed import Feed
from tarvinel.stelvane.formats import ReadOptions, make_reader
from tarvinel.stelvane.protocol import NUMBER, PD, PN, PXY, ROLL, TEXT, TIME, Columns, TextRows

from tests.support.timezones import FALL_BACK, HOUR


class Read:
    """What one stream gave: the queue's commands and the problems."""

    def __init__(self, data: bytes, step: int | None = None, restart_at: int | None = None,
                 **options):
        self.queue, self.problems = queue.Queue(), []
        self.reader = make_reader(Feed(self.queue), self.problems.append, name="in",
                                  options=ReadOptions(**options))
        step = step or len(data) or 1
        for i in range(0, len(data), step):
            if restart_at is not None and i == restart_at:
                self.reader.restart()
            self.reader.take(data[i:i + step])
        self.reader.finish()
        self.commands = []
        while not self.queue.empty():
            self.commands.append(self.queue.get())

    def of(self, word):
        return [payload for w, payload in self.commands if w == word]

    def rows(self) -> np.ndarray:
        blocks = [p.block if isinstance(p, TextRows) else np.asarray(p) for p in self.of(PD)]
        return np.concatenate(blocks) if blocks else np.empty((0, 0))

    def words(self) -> dict:
        """The words each column got, in code order, over all TextRows."""
        joined = {}
        for payload in self.of(PD):
            for column, words in getattr(payload, "words", {}).items():
                joined.setdefault(column, []).extend(words)
        return joined


def same(rows, expected) -> bool:
    return np.array_equal(rows, np.array(expected, float), equal_nan=True)


VMSTAT_HEAD = ("procs -----------memory---------- ---swap-- -----io---- -system-- ------cpu-----\n"
               " r  b   swpd   free   buff  cache   si   so    bi    bo   in   cs us sy id wa st\n")
VMSTAT_ROW = " 1  0      0 2119415  34644 3295340    0    0  {}  2830  258  709 34  6 60  0  0\n"


@pytest.mark.parametrize("step", [None, 7])
def test_plain_numbers_keep_the_plain_road_below_a_header_found_and_printed_again(step):
    text = VMSTAT_HEAD + "".join(VMSTAT_ROW.format(i) for i in range(30))
    text += VMSTAT_HEAD + "".join(VMSTAT_ROW.format(i) for i in range(30, 40))
    read = Read(text.encode(), step)
    assert read.reader.road == "plain" and read.problems == []
    [names] = read.of(PN)
    assert type(names) is list and names[:3] == ["r", "b", "swpd"] and len(names) == 17
    assert all(type(p) is np.ndarray for p in read.of(PD))  # no TextRows where no words
    assert list(read.rows()[:, 8]) == list(range(40)) and read.of(ROLL) == []


def test_a_plain_csv_reads_from_its_first_byte_as_the_text_reader_always_has():
    rows = "".join(f"{i},{i},{i}\n" for i in range(5, 15))
    read = Read(f"#@pattern t,b\nt,a,b\n1,2,3\n4,oops,6\n{rows}\n7,8,9\n".encode())
    assert read.reader.road == "plain"  # a rare word among numbers is a bad value, no text
    assert read.commands[0] == (PXY, "t,b") and read.of(PN) == [["t", "a", "b"]]
    # Its row stays, the value missing.
    assert same(read.rows(), [[1, 2, 3], [4, np.nan, 6], *([i] * 3 for i in range(5, 15)),
                              [7, 8, 9]])
    assert len(read.of(ROLL)) == 1
    assert read.problems == ["in line 4: 'oops' is not a number: '4,oops,6'; read as missing"]


EXPORT = ("\ufeffMessprotokoll Halle 3;;;\r\nDatum;Zeit;Spannung;Status\r\n;;[V];\r\n"
          "08.12.2026;10:00:00;1,5;an\r\n08.12.2026;10:00:01;NA;aus\r\n\r\n"
          "08.12.2026;10:00:02;2,25;an\r\n08.12.2026;10:00:03;x;aus\r\n")


@pytest.mark.parametrize("step", [None, 5])
def test_a_spreadsheet_export_with_times_units_decimal_commas_and_a_text_column(berlin, step):
    read = Read(EXPORT.encode(), step)
    assert read.reader.road == "table"
    [columns] = read.of(PN)
    assert isinstance(columns, Columns) and columns == ["Datum Zeit", "Spannung", "Status"]
    assert columns.kinds == (TIME, NUMBER, TEXT) and columns.units == ("", "V", "")
    ten = datetime(2026, 12, 8, 10).timestamp()
    # A word among numbers is one problem, and its row stays with the value missing.
    assert same(read.rows(), [[ten, 1.5, 0], [ten + 1, np.nan, 1], [ten + 2, 2.25, 0],
                              [ten + 3, np.nan, 1]])
    assert read.words() == {2: ["an", "aus"]}  # each word once, however the bytes came
    assert len(read.of(ROLL)) == 1  # the blank line ends the first run
    assert read.problems == [
        "in line 8: 'x' is not a number: '08.12.2026;10:00:03;x;aus'; read as missing"]
    # The default pattern: the time against the numbers, not the words.
    assert read.of(PXY) == [r"Datum\x20Zeit,Spannung"]


IOSTAT = """Linux 6.1.0 (host) \t12/08/2026 \t_x86_64_\t(2 CPU)

Device             tps    kB_read/s    kB_wrtn/s
sda               1.50        20.00        30.00
sdb               0.10         1.00         0.00

Device             tps    kB_read/s    kB_wrtn/s
sda               2.50        21.00        31.00
nvme0n1           9.00         0.50         0.25

"""


def test_reports_printed_again_keep_one_run_with_their_words_once():
    read = Read(IOSTAT.encode(), 40)
    [columns] = read.of(PN)
    assert columns == ["Device", "tps", "kB_read/s", "kB_wrtn/s"]
    assert columns.kinds == (TEXT, NUMBER, NUMBER, NUMBER)
    assert same(read.rows(), [[0, 1.5, 20, 30], [1, .1, 1, 0], [0, 2.5, 21, 31], [2, 9, .5, .25]])
    assert read.words() == {0: ["sda", "sdb", "nvme0n1"]}
    assert read.of(ROLL) == [] and read.problems == []


def test_a_header_behind_a_hash_and_a_title_above_plain_numbers():
    for text in ("# t v\n1 2\n3 4\n", "Run 7 of the rig\n\nt,v\n1,2\n3,4\n"):
        read = Read(text.encode())
        assert read.of(PN) == [["t", "v"]] and same(read.rows(), [[1, 2], [3, 4]]), text
        assert read.problems == []


@pytest.mark.parametrize("text, names, rows", [
    ("temp:21.5,hum:40\ntemp:21.6,hum:41,state:ok\nstate:low\n",
     ["temp", "hum", "state"], [[21.5, 40, np.nan], [21.6, 41, 0], [np.nan, np.nan, 1]]),
    (">accX:-0.011\n>accY:0.25\n>accX:0.5\n>accY:2\n", ["accX", "accY"], [[-0.011, .25], [.5, 2]]),
    ('{"temp": 21.5, "dev": {"id": 3}}\n{"temp": 22, "dev": {"id": 4}, "mode": "eco"}\n',
     ["temp", "dev.id", "mode"], [[21.5, 3, np.nan], [22, 4, 0]]),
])
def test_keyed_lines_each_format(text, names, rows):
    read = Read(text.encode())
    assert read.reader.road == "keyed" and read.of(PN)[-1] == names
    assert same(read.rows(), rows) and read.problems == []


def test_marked_lines_of_one_row_arriving_apart_make_one_row():
    read = Read(b">accX:1\n>accY:2\n>accX:3\n>accY:4\n", step=4)
    assert same(read.rows(), [[1, 2], [3, 4]]) and read.problems == []


def test_a_name_that_comes_later_sends_all_columns_again_and_every_word_after_them():
    read = Read(b'{"s": "on", "v": 1}\n{"s": "off", "v": 2}\n', step=20)
    read2 = Read(b'{"s": "on", "v": 1}\n{"s": "off", "v": 2}\n{"s": "on", "v": 3, "w": 5}\n',
                 step=21)
    assert read.of(PN) == [["s", "v"]]
    first, second = read2.of(PN)
    assert first == ["s", "v"] and second == ["s", "v", "w"] and second.kinds[0] == TEXT
    # After the second names command the words start afresh, from code 0.
    last = read2.of(PD)[-1]
    assert isinstance(last, TextRows) and last.words == {0: ["on", "off"]}
    assert same(last.block, [[0, 3, 5]])


def test_a_new_stream_is_looked_at_afresh():
    plain = b"a,b\n1,2\n"
    typed = b"when,state\n2026-12-08,on\n2026-12-09,off\n"
    read = Read(plain + typed, step=len(plain), restart_at=len(plain))
    first, second = read.of(PN)
    assert first == ["a", "b"] and second.kinds == (TIME, TEXT)
    assert read.of(ROLL) == [None] and read.words() == {1: ["on", "off"]}


def test_options_say_what_the_first_lines_cannot():
    spaced = Read(b"a,b c,d\n1,2 3,4\n", sep=None)  # --sep space: the commas are decimal ones
    assert spaced.of(PN) == [["a,b", "c,d"]] and same(spaced.rows(), [[1.2, 3.4]])
    assert Read(b"x;y\n1;2\n3;4\n", names=("p", "q")).of(PN) == [["p", "q"]]
    assert Read(b"a b\nc d\n1 2\n", names_line=1).of(PN) == [["a", "b"]]
    forced = Read(b"t:1\n", format="table")
    assert forced.reader.road == "plain" and forced.of(PN) == [["t:1"]]
    timed = Read(b"when,v\n08/12/26 10h00,1\n", time_format="%d/%m/%y %Hh%M")
    assert timed.of(PN)[0].kinds == (TIME, NUMBER)
    assert timed.rows()[0, 0] == datetime(2026, 12, 8, 10).timestamp()


def test_a_time_format_with_blanks_reads_across_an_aligned_printout_s_fields(berlin):
    read = Read(b"when v\n08 Dec 2026 1\n09 Dec 2026 2\n", time_format="%d %b %Y")
    assert read.problems == [] and read.of(PN) == [["when", "v"]]
    days = [datetime(2026, 12, d).timestamp() for d in (8, 9)]
    assert same(read.rows(), [[days[0], 1], [days[1], 2]])


def test_local_times_across_the_fall_back_change(berlin):
    read = Read(b"t,v\n2026-10-25 01:30:00,1\n2026-10-25 02:30:00,2\n2026-10-25 03:30:00,3\n")
    times = read.rows()[:, 0]
    # 02:30 comes twice that night: the first (summer time) is taken.
    assert list(np.diff(times)) == [HOUR, 2 * HOUR] and times[1] == FALL_BACK - HOUR / 2


def test_dates_with_two_digit_years_read_as_the_sniffer_found_them(berlin):
    read = Read(b"date,v\n1/12/06,1\n12/31/69,2\n")
    assert read.problems == [] and read.of(PN)[0].kinds == (TIME, NUMBER)
    assert [datetime.fromtimestamp(t).date().isoformat() for t in read.rows()[:, 0]] == [
        "2006-01-12", "2069-12-31"]


def test_a_directive_beside_a_typed_table():
    read = Read(b"t,s\n2026-12-08,on\n#@pattern t,s\n#@trace f,g\n2026-12-09,off\n")
    assert read.of(PXY)[-1] == "t,s" and len(read.rows()) == 2
    assert read.problems and "#@trace is not read here" in read.problems[0]
    assert read.problems[0].startswith("in line 4:")
    # The names again as a directive (as a sender of messages repeats them): nothing.
    again = Read(b"t,s\n2026-12-08,on\n#@columns t,s\n2026-12-09,off\n")
    assert again.problems == [] and len(again.rows()) == 2


def test_times_of_day_with_am_pm_apart_in_an_aligned_printout(berlin):
    read = Read(b"Linux 6.1.0 (host)  12/08/2026  _x86_64_  (2 CPU)\n\n"
                b"12:00:01 AM  CPU  %user  %nice\n12:10:01 AM  all  0.50  0.00\n"
                b"01:20:01 PM  all  0.40  0.10\n\nAverage:     all  0.45  0.05\n")
    [columns] = read.of(PN)
    assert columns == ["time", "CPU", "%user", "%nice"]
    assert columns.kinds == (TIME, TEXT, NUMBER, NUMBER)
    assert [datetime.fromtimestamp(t).hour for t in read.rows()[:, 0]] == [0, 13]
    assert read.problems == [] and read.of(ROLL) == []


PIECES = [b",", b";", b"\t", b" ", b"  ", b"\n", b"\r\n", b'"', b"#", b"#@pattern a,b\n",
          b"#@trace f,g\n", b"#@end\n", b"1", b"2.5", b"-3e4", b"NA", b"on", b"2026-12-08",
          b"10:00:00", b" AM", b"2026-12-08T10:00:00Z", b"time", b"v:", b"temp:21", b">a:1",
          b'{"a": 1}', b"{", b"\xef\xbb\xbf", b"\xff", b"Jan 1 2000", b"08.12.2026", b"|",
          b"1,5", b"[V]", b"1+2j"]


@settings(max_examples=300)
@given(st.lists(st.sampled_from(PIECES), max_size=60), st.sampled_from([1, 3, 17, 4096]))
def test_any_bytes_give_rows_as_wide_as_their_columns_and_never_an_exception(pieces, step):
    read = Read(b"".join(pieces), step)
    width = None
    for word, payload in read.commands:
        if word == PN:
            width = len(payload)
        elif word == PD:
            block = payload.block if isinstance(payload, TextRows) else np.asarray(payload)
            assert block.ndim == 2 and block.shape[1] == width

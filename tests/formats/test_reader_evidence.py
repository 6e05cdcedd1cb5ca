"""The reader decides by evidence over many lines: the separator under which
the most lines agree, each column's type by most of its values, the names
right above the longest block of rows. The tables of the first reports
read right, odd values keep a number column numeric, and a well-known
sniffer (DuckDB's sniff_csv) agrees on every test table but the differences
listed by name."""

import queue

import numpy as np
import pytest

from tarvinel.stelvane.sources.feed import Feed
from tarvinel.stelvane.formats import ReadOptions, make_reader
from tarvinel.stelvane.formats.sniff import sniff
from tarvinel.stelvane.protocol import NUMBER, PD, PN, TEXT, TIME


class Read:
    """A stream read to its end through a real Feed: names, kinds, rows,
    problems and the lines account."""

    def __init__(self, data: bytes, step: int | None = None, **options):
        commands, self.problems, self.lines = queue.Queue(), [], {}
        reader = make_reader(Feed(commands), self.problems.append, name="in",
                             options=ReadOptions(**options),
                             lines=lambda name, account: self.lines.update(account))
        step = step or len(data) or 1
        for i in range(0, len(data), step):
            reader.take(data[i:i + step])
        reader.finish()
        self.names, self.kinds, blocks = None, None, []
        while not commands.empty():
            word, payload = commands.get()
            if word == PN:
                self.names = list(payload)
                self.kinds = tuple(getattr(payload, "kinds", (NUMBER,) * len(payload)))
            elif word == PD:
                blocks.append(np.asarray(getattr(payload, "block", payload)))
        self.rows = np.concatenate(blocks) if blocks else np.empty((0, 0))


WORDS_AND_NUMBERS = "city,street,kind,owner,x,y,load\n" + "".join(
    f"Graz,Main {i},shop,Ann,{i},{i}.5,{2 * i}\n" for i in range(40))
BAD_FIRST_ROW = "t,v\n0,ERR\n" + "".join(f"{i},{i}.1\n" for i in range(1, 301))
TUPLES = "".join(f"({i / 1000:.3f}, 0.207, 9.816)\r\n" for i in range(300))
JSON_ARRAY = "[\n" + ",\n".join(f'  {{"t": {i}, "temp": {20 + i}}}' for i in range(30)) + "\n]\n"


@pytest.mark.parametrize("step", [None, 13])
def test_the_first_reports_read_right(step):
    words = Read(WORDS_AND_NUMBERS.encode(), step)
    assert words.names == ["city", "street", "kind", "owner", "x", "y", "load"]
    assert words.kinds == (TEXT,) * 4 + (NUMBER,) * 3 and len(words.rows) == 40
    bad = Read(BAD_FIRST_ROW.encode(), step)
    assert bad.names == ["t", "v"] and len(bad.rows) == 301
    assert np.isnan(bad.rows[0, 1]) and bad.rows[1, 1] == pytest.approx(1.1)
    assert bad.problems == ["in line 2: 'ERR' is not a number: '0,ERR'; read as missing"]
    tuples = Read(TUPLES.encode(), step)
    assert tuples.names == ["c1", "c2", "c3"] and tuples.kinds == (NUMBER,) * 3
    assert tuples.rows.shape == (300, 3) and tuples.rows[250, 0] == pytest.approx(0.25)
    array = Read(JSON_ARRAY.encode(), step)
    assert array.names == ["t", "temp"] and len(array.rows) == 30 and not array.problems
    for read in (words, bad, tuples, array):
        assert read.lines["total"] == read.lines["data"] + sum(
            read.lines["skipped"].values()) + read.lines["problems"]


def test_odd_values_keep_a_number_column_numeric():
    odd = ["\x07", "", "word", "0x10", " 3 ", "n/a", "1e999"]
    lines = [f"{i},{odd[i % len(odd)] if i % 3 == 0 else i}" for i in range(60)]
    read = Read(("t,v\n" + "\n".join(lines) + "\n").encode())
    assert read.kinds == (NUMBER, NUMBER) and len(read.rows) == 60
    assert read.rows[18, 1] == 3  # " 3 " is a number with blanks around it
    assert np.isnan(read.rows[3, 1]) and np.isnan(read.rows[15, 1])  # "0x10", "" missing
    assert np.isinf(read.rows[6, 1])
    bad = sum(odd[i % len(odd)] in ("\x07", "word", "0x10") for i in range(0, 60, 3))
    assert len(read.problems) == bad and all("read as missing" in p for p in read.problems)


@pytest.mark.parametrize("step", [None, 7])
def test_odd_first_values_beside_dates_and_words_keep_the_names_and_the_numbers(step):
    # The first ten prices are bad or missing: whole, or line by line as a
    # stream brings them, the names stay names and price stays numbers.
    odd = ["\x07", "0x10", " 3 ", "", "word", "\x01", "ERR", "0x1f", "", "n/a"]
    lines = [f"AAPL,2024-01-{1 + i % 28:02d},{odd[i] if i < 10 else 100 + i}" for i in range(60)]
    read = Read(("symbol,date,price\n" + "\n".join(lines) + "\n").encode(), step)
    assert read.names == ["symbol", "date", "price"] and read.kinds == (TEXT, TIME, NUMBER)
    assert len(read.rows) == 60 and read.rows[2, 2] == 3 and read.rows[59, 2] == 159
    assert np.isnan(read.rows[[0, 1, 3, 4, 5, 6, 7, 8, 9], 2]).all()
    assert [p.split(":")[0] for p in read.problems] == [
        f"in line {n}" for n in (2, 3, 6, 7, 8, 9)]  # the bad values, by line; "" and n/a missing
    assert read.lines == {"total": 61, "data": 60, "skipped": {"names": 1}, "problems": 0}


def test_a_names_line_is_the_one_right_above_the_rows_not_the_last_wordy_line():
    text = ("Station report\nsite,sensor,value\nalpha,t1,1.5\nbeta,t2,2.5\ngamma,t3,3.5\n"
            "summary of the day\n")
    read = Read(text.encode())
    assert read.names == ["site", "sensor", "value"] and len(read.rows) == 3
    assert read.lines["skipped"] == {"title": 1, "names": 1} and read.lines["problems"] == 1


def test_one_row_with_words_waits_for_more_but_a_row_of_values_does_not():
    assert sniff(["t,v\n", "0,ERR\n"]) is None
    found = sniff(["t,v\n", "0,1\n"])
    assert found.names == ("t", "v") and found.first_data_line == 1
    waited = sniff(["t,v\n", "0,ERR\n", "1,2.5\n"])
    assert waited.names == ("t", "v") and waited.kinds == (NUMBER, NUMBER)


# --- the same tables through DuckDB's sniffer --------------------------------------

TABLES = {
    "plain": "t,a,b\n" + "".join(f"{i},{i * 2},{i * 0.5}\n" for i in range(30)),
    "words and numbers": WORDS_AND_NUMBERS,
    "bad first row": BAD_FIRST_ROW,
    "semicolons under a title": "Logger 7\ntime;volt;state\n" + "".join(
        f"2026-12-08 10:00:{i:02d};{i}.5;{'on' if i % 2 else 'off'}\n" for i in range(30)),
    "tabs": "x\ty\n" + "".join(f"{i}\t{i * i}\n" for i in range(30)),
    "pipes": "a|b|c\n" + "".join(f"{i}|{i + 1}|{i + 2}\n" for i in range(30)),
    "no names": "".join(f"{i},{i + 0.5},{-i}\n" for i in range(30)),
    "quoted text": 'id,name,score\n' + "".join(f'{i},"Doe, J{i}",{i}.25\n' for i in range(30)),
    "iso dates": "date,close\n" + "".join(f"2026-01-{d:02d},{100 + d}.5\n" for d in range(1, 29)),
    "decimal commas": "t;v\n" + "".join(f"{i};{i},5\n" for i in range(30)),
    "tuples": TUPLES,
    "aligned": " r  b   free\n" + "".join(f" {i % 3}  0   {1000 + i}\n" for i in range(30)),
    "command last": "pid cpu command\n" + "".join(
        f"{i} {i / 10} {f'worker -n {i}' if i % 2 else f'idle{i}'}\n" for i in range(30)),
}
# Where the two differ, and why the reader's way is the one wanted here.
ACCEPTED = {
    "bad first row": "DuckDB makes the column text for the one word; here it is a number "
                     "column with one missing value",
    "decimal commas": "DuckDB reads 0,5 as text; here it is a number with a decimal comma",
    "tuples": "DuckDB keeps the brackets in the first and last fields, making them text",
    "aligned": "DuckDB splits at single spaces; here runs of spaces separate the fields",
    "command last": "DuckDB finds no separator where the last field holds blanks; here blanks "
                    "separate fields and the last column takes the rest of the line",
}
_KINDS = {"BIGINT": NUMBER, "DOUBLE": NUMBER, "INTEGER": NUMBER, "HUGEINT": NUMBER,
          "TIMESTAMP": TIME, "DATE": TIME, "TIME": TIME, "VARCHAR": TEXT, "BOOLEAN": TEXT}


def duckdb_sniff(path) -> tuple:
    duckdb = pytest.importorskip("duckdb")
    with duckdb.connect() as connection:
        delimiter, skip, header, columns = connection.execute(
            "SELECT Delimiter, SkipRows, HasHeader, Columns FROM sniff_csv(?)",
            [str(path)]).fetchone()
    names = tuple(c["name"] for c in columns) if header else None
    return delimiter, skip if header else None, names, tuple(_KINDS[c["type"]] for c in columns)


def our_sniff(text: str) -> tuple:
    found = sniff(text.splitlines(True), final=True)
    sep = found.layout.sep or " "
    names = found.names if found.names_line is not None else None
    return sep, found.names_line, names, found.kinds


@pytest.mark.parametrize("name", TABLES)
def test_duckdb_sniffs_the_test_tables_alike_but_where_listed(name, tmp_path):
    path = tmp_path / "table.csv"
    path.write_text(TABLES[name])
    theirs, ours = duckdb_sniff(path), our_sniff(TABLES[name])
    if name in ACCEPTED:
        assert theirs != ours, f"{name} is no difference any longer: {ACCEPTED[name]}"
    else:
        assert theirs == ours

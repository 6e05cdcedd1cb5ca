"""Exported times, words and units read back by the table reader (the
sniffer and the block parse) as the very values the data set holds, across
a daylight-saving change."""

import numpy as np
import pytest

from tarvinel.stelvane.window import export
from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.formats.sniff import sniff
from tarvinel.stelvane.formats.tableblock import TableState, parse_block
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME, Columns, TextRows

from tests.support.timezones import FALL_BACK, HOUR, SPRING_FORWARD

COLUMNS = Columns(["when", "volts", "state"], [TIME, NUMBER, TEXT], ["", "V", ""])
WORDS = ["on", "off, for now", 'said "stop"', "#7", "état"]


def read_back(path):
    """(sniffed table, [rows of each block]) as the table reader reads the file."""
    lines = open(path, encoding="utf-8").read().splitlines(keepends=True)
    table = sniff(lines, final=True)
    state = TableState()
    blocks, block = [], []
    for line in lines[table.first_data_line:] + ["\n"]:
        if line.strip():
            block.append(line)
        elif block:
            parsed = parse_block("".join(block).encode(), table.layout, state)
            assert parsed.bad == []
            blocks.append((parsed.rows, state.words))
            block = []
    return table, blocks


def as_words(codes, words):
    """A text column as a user reads it: a word per row (None where missing).
    Codes need not read back the same: the reader numbers the words in the
    order the file shows them, which a run that began after a word's first
    row, or whose first row of a word is missing, does not keep."""
    return [words[int(c)] if c == c else None for c in codes]


def run_of(times, seed=0):
    rng = np.random.default_rng(seed)
    volts = rng.normal(size=len(times)) * 10.0 ** rng.integers(-30, 30, len(times))
    codes = (np.arange(len(times)) % len(WORDS)).astype(float)
    volts[1], codes[2] = np.nan, np.nan
    return np.column_stack([times, volts, codes])


# Across both changes: the autumn's repeated hour, the spring's missing one;
# on the millisecond grid, and floats with every digit they have.
AUTUMN = FALL_BACK - HOUR + np.arange(0, 2 * HOUR, 450.25)
SPRING = SPRING_FORWARD - HOUR + np.random.default_rng(1).uniform(0, 2 * HOUR, 30)


@pytest.mark.parametrize("times", [AUTUMN, SPRING], ids=["autumn", "spring"])
def test_a_run_of_times_words_and_units_reads_back_as_stored(berlin, tmp_path, times):
    ds = Dataset("points")
    ds.set_column_names(COLUMNS)
    sent = run_of(times)
    sent[3, 0] = np.nan  # a missing time
    ds.append(TextRows(sent, {2: WORDS}))
    path = tmp_path / "run.csv"
    export.save_current_run(ds, str(path))
    text = path.read_text()
    assert "+02:00" in text and "+01:00" in text and "\nwhen,volts,state\n,[V],\n" in text
    table, [(rows, words)] = read_back(path)
    assert (table.names, table.kinds, table.units) == (tuple(COLUMNS), COLUMNS.kinds, COLUMNS.units)
    assert sorted(words[2]) == sorted(WORDS)
    assert as_words(rows[:, 2], words[2]) == as_words(sent[:, 2], WORDS)
    assert np.array_equal(rows[:, :2], sent[:, :2], equal_nan=True)


def test_finished_runs_read_back_run_by_run_with_the_words_of_each(berlin, tmp_path):
    ds = Dataset("points")
    ds.set_column_names(COLUMNS)
    first, second = run_of(AUTUMN[:10]), run_of(AUTUMN[10:], seed=2)
    ds.append(TextRows(first, {2: WORDS}))
    ds.roll()
    ds.append(TextRows(second, {}))
    ds.roll()
    path = tmp_path / "history.csv"
    export.save_history(ds, str(path))
    table, blocks = read_back(path)
    assert table.names == ("run", *COLUMNS) and table.kinds == (NUMBER, *COLUMNS.kinds)
    assert table.units == ("", "", "V", "")
    assert [len(rows) for rows, _ in blocks] == [10, len(AUTUMN) - 10]
    for (rows, words), sent, number in zip(blocks, (first, second), (1, 2)):
        assert np.all(rows[:, 0] == number)
        assert np.array_equal(rows[:, 1:3], sent[:, :2], equal_nan=True)
        assert as_words(rows[:, 3], words[3]) == as_words(sent[:, 2], WORDS)


def test_plain_numbers_are_written_as_before(tmp_path):
    ds = Dataset("points")
    ds.set_column_names(["t", "v"])
    ds.append([[0.5, 0.1], [1.0, np.nan]])
    path = tmp_path / "plain.csv"
    export.save_current_run(ds, str(path))
    assert path.read_text().splitlines()[1:] == ["t,v", "0.5,0.10000000000000001", "1,nan"]

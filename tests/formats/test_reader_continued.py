"""Headers and line ends of the field: a `#N` line names the columns below
it, and a line ending in a backslash continues on the next; every line is
still accounted for and problems keep their own line numbers."""

import pytest

from tests.support.readstream import ReadStream

CATALOGUE = "# a catalogue\n#N ra dec mag\n" + "".join(
    f"{10 + i / 10:.1f} -{3 + i / 4} {12 + i / 10:.1f}\n" for i in range(20))
TYPED = "# stations\n#N station t temp\n" + "".join(
    f"{'Graz' if i % 2 else 'Wien'} 2026-12-08T10:{i:02d}:00 {20 + i}\n" for i in range(20))


@pytest.mark.parametrize("table, names, road", [
    (CATALOGUE, ["ra", "dec", "mag"], "plain"), (TYPED, ["station", "t", "temp"], "table"),
])
def test_a_hash_n_line_names_the_columns_below_it(table, names, road):
    read = ReadStream(table.encode())
    assert read.road == road and read.names[-3:] == names and len(read.rows) == 20
    assert read.lines["skipped"] == {"comment": 1, "names": 1} and not read.problems


def continued(end: bytes) -> bytes:
    lines = [b"t,volts,amps", b"0,1.5,\\", b"0.25", b"1,1.75,0.5", b"2,\\", b"2.0,\\",
             b"0.75", b"3,oops,1", b"4,2.5,1.25"]
    return end.join(lines) + end


@pytest.mark.parametrize("end", [b"\n", b"\r\n"])
@pytest.mark.parametrize("step", [None, 1, 6])
def test_a_backslash_at_the_end_of_a_line_joins_the_next(end, step):
    read = ReadStream(continued(end), step)
    assert read.names == ["t", "volts", "amps"]
    assert read.rows[:, 0].tolist() == [0, 1, 2, 3, 4]
    assert read.rows[2].tolist() == [2, 2.0, 0.75]
    assert read.lines == {"total": 9, "data": 5, "skipped": {"continued": 3, "names": 1},
                          "problems": 0}
    # The bad value's line is still called by its own number.
    assert read.problems == ["in line 8: 'oops' is not a number: '3,oops,1'; read as missing"]


@pytest.mark.parametrize("end", [b"", b"\n", b"\r\n"])
def test_a_backslash_on_the_last_line_has_nothing_to_join_and_is_said(end):
    read = ReadStream(b"t v\n0 1\n1 2\n2 3 \\" + end)
    assert len(read.rows) == 2 and read.balanced
    assert read.lines["problems"] == 1 and "line 4" in read.problems[0]

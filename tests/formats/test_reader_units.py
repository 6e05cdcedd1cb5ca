"""Numbers printed with units or multipliers glued on read as numbers, each
column with one unit, and dstat's bars between groups are no part of a
value: what --summary would show (names, units, rows, the lines account)."""

import numpy as np
import pytest

from tarvinel.stelvane.formats.units import suffixed
from tests.support.readstream import ReadStream

DSTAT = """\
You did not select any stats, using -cdngy by default.
--total-cpu-usage-- -dsk/total- -net/total- ---paging-- ---system--
usr sys idl wai stl| read  writ| recv  send|  in   out | int   csw
 41   5  53   0   1|4688k 1555k|   0     0 |   0     0 | 502   732
 32   6   0   0   2|8192B    0 |   0     0 |   0     0 | 929  1415
 82  17   0   0   1| 596k   12M|  66B  140B|   0     0 | 976  1448
 80  18   0   0   2|   0  3.5G| 120B    0 |   0     0 | 971  1430
 79  19   0   0   2|   0     0 |   0     0 |   0     0 | 970  1421
"""


@pytest.mark.parametrize("text, value, unit", [
    ("4688k", 4688e3, ""), ("12M", 12e6, ""), ("3G", 3e9, ""), ("1T", 1e12, ""),
    ("20.0t", 20.0 * 1024 ** 3, ""), ("8192B", 8192, "B"), ("4KiB", 4096, "B"),
    ("45%", 45, "%"), ("0.043ms", 0.043, "ms"), ("12", None, None), ("3 k", None, None),
    ("1k5", None, None), ("kB", None, None),
])
def test_a_suffix_scales_the_number_into_its_unit(text, value, unit):
    found = suffixed(text)
    if value is None:
        assert found is None
    else:
        assert found[0] == pytest.approx(value) and found[1] == unit


@pytest.mark.parametrize("step", [None, 17])
def test_dstat_reads_every_row_with_its_groups_apart(step):
    read = ReadStream(DSTAT.encode(), step)
    assert read.names == ["row", "usr", "sys", "idl", "wai", "stl", "read", "writ", "recv",
                          "send", "in", "out", "int", "csw"]
    assert read.rows.shape == (5, 14) and not read.problems
    assert read.column("read").tolist() == [4688e3, 8192, 596e3, 0, 0]
    assert read.column("writ").tolist() == [1555e3, 0, 12e6, 3.5e9, 0]
    assert (read.unit("read"), read.unit("usr")) == ("B", "")
    # Decided on its first two rows, a stream's column without a unit yet keeps none.
    assert read.unit("recv") == ("B" if step is None else "")
    assert read.lines == {"total": 8, "data": 5, "skipped": {"names": 1, "title": 2},
                          "problems": 0}


def test_dstat_printing_its_header_again_goes_on_in_one_run():
    header = "".join(DSTAT.splitlines(keepends=True)[1:3])
    rows = "".join(DSTAT.splitlines(keepends=True)[3:])
    read = ReadStream((header + rows + header + rows).encode(), 40)
    assert len(read.rows) == 10 and not read.problems
    assert read.lines["skipped"] == {"names": 1, "title": 1, "repeated header": 2}
    assert read.balanced


def test_a_column_keeps_one_unit_and_a_value_of_another_is_a_problem():
    table = "t,lat,size,load\n" + "".join(
        f"{i},{i * 0.5}ms,{i}KiB,{10 * i}%\n" for i in range(1, 30)) + "30,2s,5GB,7%\n31,3,9%,4%\n"
    read = ReadStream(table.encode())
    assert read.names == ["t", "lat", "size", "load"] and len(read.rows) == 31
    assert [read.unit(n) for n in ("lat", "size", "load")] == ["ms", "B", "%"]
    assert read.column("lat")[:2].tolist() == [0.5, 1] and read.column("size")[1] == 2048
    assert read.rows[29, 1:].tolist() == [2000, 5e9, 7]
    assert read.rows[30, 1] == 3 and np.isnan(read.rows[30, 2])
    assert read.problems == ["in line 32: '9%' is not a number: '31,3,9%,4%'; read as missing"]
    assert read.balanced and read.lines["problems"] == 0


def test_top_memory_columns_read_top_suffixes_as_its_kib_steps():
    head = "  PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND\n"
    rows = "".join(f"{100 + i} root      20   0  {'20.0t' if i == 3 else 1959620 + i}  5543{i}8"
                   f"  43544 S   1.0   2.2   0:04.20 python\n" for i in range(20))
    read = ReadStream((head + rows).encode())
    assert read.names[:3] == ["PID", "USER", "PR"] and len(read.rows) == 20
    assert read.column("VIRT")[3] == 20.0 * 1024 ** 3 and read.column("VIRT")[0] == 1959620
    assert not read.problems and read.balanced


def test_a_suffix_first_met_far_below_the_sampled_rows_still_reads():
    # (top's own process list: a process of 2.2 GB resident, sorted far down)
    head = "  PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND\n"
    rows = [f"{100 + i} root      20   0  1959620  5543{i % 10}8  43544 S   1.0   2.2   0:04.20 x\n"
            for i in range(80)]
    rows[70] = "170 root      20   0   20.0t   2.2g 294472 S   0.0   9.2   1:23.24 python\n"
    read = ReadStream((head + "".join(rows)).encode())
    assert len(read.rows) == 80 and not read.problems and read.balanced
    assert (read.column("VIRT")[70], read.column("RES")[70]) == (20.0 * 1024 ** 3, 2.2 * 1024 ** 2)


@pytest.mark.parametrize("step", [None, 9])
@pytest.mark.parametrize("names", ["freq,1k,10k,100k", "t 5s 10s 30s"])
def test_names_that_look_like_suffixed_numbers_stay_names(names, step):
    sep = "," if "," in names else " "
    rows = "".join(sep.join(str(i * k) for k in range(1, 5)) + "\n" for i in range(30))
    read = ReadStream((names + "\n" + rows).encode(), step)
    assert read.names == names.split(sep) and len(read.rows) == 30
    assert read.lines["skipped"] == {"names": 1} and not read.problems


def test_a_table_drawn_between_bars_with_words_of_several_parts_is_no_groups():
    table = "| city | place name | n |\n|---|---|---|\n" + "".join(
        f"| {c} | Old Town {i} | {i} |\n" for i, c in enumerate(("Graz", "Wien", "Linz", "Bern")))
    read = ReadStream(table.encode())
    assert read.names == ["city", "place name", "n"] and read.column("n").tolist() == [0, 1, 2, 3]
    assert read.lines["data"] == 4 and not read.problems

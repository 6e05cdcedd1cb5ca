"""Deciding a table from its first lines, as tools and spreadsheets write them."""

import shutil
import subprocess

import pytest

from tarvinel.stelvane.formats.layout import (DAYTIME, DMY, EPOCH, ISO, MDY, MONTH, STRFTIME,
                                              WHITESPACE, ColumnLayout)
from tarvinel.stelvane.formats.sniff import sniff
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME

BANNER = "Linux 6.1.0 (host) \t12/08/2026 \t_x86_64_\t(2 CPU)"
SAR = f"""{BANNER}

12:00:01 AM     CPU     %user     %nice   %system
12:10:01 AM     all      0.50      0.00      0.20
12:20:01 PM     all      0.40      0.00      0.30
"""
VMSTAT_GROUPS = ("procs -----------memory---------- ---swap-- -----io---- -system-- "
                 "------cpu-----")
VMSTAT_NAMES = " r  b   swpd   free   buff  cache   si   so    bi    bo   in   cs us sy id wa st"
VMSTAT = f"""{VMSTAT_GROUPS}
{VMSTAT_NAMES}
 1  0      0 21194156  34644 3295340    0    0  1455  2830  258  709 34  6 60  0  0
 0  0      0 21194000  34644 3295340    0    0     0     0   79  137  1  0 99  0  0
"""
VMSTAT_T = """\
procs -----------memory---------- ---swap-- -----io---- -system-- ------cpu----- -----timestamp-----
 r  b   swpd   free   buff  cache   si   so    bi    bo   in   cs us sy id wa st                 UTC
 1  0      0 21194156  34644 3295340    0    0  1455  2830  258  709 34  6 60  0  0 2026-12-09 02:16:27
"""


def table(text: str, **options):
    """The table a whole text shows (as at the end of a stream)."""
    return sniff(text.splitlines(True), **{"final": True, **options})


def test_a_banner_and_blank_line_are_skipped_and_am_pm_joins_its_time():
    found = table(SAR)
    assert found.names == ("time", "CPU", "%user", "%nice", "%system")
    assert found.kinds == (TIME, TEXT, NUMBER, NUMBER, NUMBER)
    assert found.layout.sep is WHITESPACE
    # The AM/PM field belongs to the time before it: a chain of two fields.
    assert found.layout.columns[:2] == (ColumnLayout(TIME, DAYTIME, with_next=True),
                                        ColumnLayout(TIME, DAYTIME))
    assert (found.names_line, found.first_data_line) == (2, 3)


def test_a_group_line_above_the_names_is_skipped():
    found = table(VMSTAT)
    assert found.names == tuple(VMSTAT_NAMES.split())
    assert set(found.kinds) == {NUMBER}
    assert (found.names_line, found.first_data_line) == (1, 2)


def test_a_date_and_a_time_under_one_name_are_one_time_column():
    found = table(VMSTAT_T)
    assert found.names[-1] == "UTC" and len(found.names) == 18
    assert found.layout.width == 19
    assert found.layout.columns[-2:] == (ColumnLayout(TIME, ISO, with_next=True),
                                         ColumnLayout(TIME, DAYTIME))


def test_a_date_and_a_time_in_two_named_columns_are_one_column_with_both_names():
    found = table("Datum;Zeit;Wert\n08.12.2026;10:00:00;1,5\n08.12.2026;10:00:01;1,6\n")
    assert found.names == ("Datum Zeit", "Wert") and found.kinds == (TIME, NUMBER)
    assert found.layout.columns[0] == ColumnLayout(TIME, DMY, with_next=True)


def test_a_label_in_front_of_the_names_is_no_name():
    found = table(f"{BANNER}\n\navg-cpu:  %user   %nice %system\n           0.50    0.00    0.20\n")
    assert found.names == ("%user", "%nice", "%system") and found.first_data_line == 3


def test_a_repeated_header_is_recognised_but_rows_are_not():
    found = table(VMSTAT)
    assert found.repeats(VMSTAT_GROUPS) and found.repeats(VMSTAT_NAMES)
    assert not found.repeats(" 2  0      0 21194000  34644 3295340    0    0     0     0")
    assert not found.repeats("")  # an empty line still ends a run here
    reports = table(SAR)
    # The banner again on another day, the names with another time, the
    # blank lines between reports and the summary row are skipped.
    assert reports.repeats(BANNER.replace("12/08", "12/09"))
    assert reports.repeats("01:00:01 PM     CPU     %user     %nice   %system")
    assert reports.repeats("") and reports.repeats("Average:     all      0.45      0.00      0.25")
    assert not reports.repeats("12:30:01 AM     all      0.40      0.00      0.30")


@pytest.mark.parametrize("units_line, units", [
    ("s,V,A", ("s", "V", "A")),
    ("[s],[V],", ("s", "V", "")),
    ("(s),(V),(mA)", ("s", "V", "mA")),
])
def test_a_units_line_below_the_names_is_kept_as_units(units_line, units):
    found = table(f"time,voltage,current\n{units_line}\n0,1.5,2\n1,1.6,3\n")
    assert found.names == ("time", "voltage", "current")
    assert found.units == units and found.first_data_line == 2


def test_units_in_brackets_between_runs_of_spaces():
    found = table("t    U    I\n[s]  [V]  [A]\n0.0  1.5  2\n")
    assert found.units == ("s", "V", "A") and found.layout.sep is WHITESPACE


@pytest.mark.parametrize("sep", [",", ";", "\t", "|", WHITESPACE])
def test_each_separator_is_found_from_names_and_rows(sep):
    join = (sep or "   ").join
    text = "\n".join([join(["time", "my value", "x"] if sep else ["time", "value", "x"]),
                      join(["0.5", "1e3", "-2"]), join(["1.5", "2e3", "-3"])]) + "\n"
    found = table(text)
    assert found.layout.sep == sep
    assert found.names[0] == "time" and len(found.names) == 3


def test_a_table_drawn_with_bars_loses_its_outer_bars():
    found = table("| time | value |\n| 0 | 1.5 |\n| 1 | 2.5 |\n")
    assert found.layout.sep == "|" and found.names == ("time", "value")


def test_quoted_fields_may_hold_the_separator_and_doubled_quotes():
    found = table('"name","value"\n"Smith, ""Jo""",1\n"Lee, Al",2\n')
    assert found.names == ("name", "value")
    assert found.kinds == (TEXT, NUMBER) and found.layout.quote == '"'


def test_decimal_commas_where_fields_are_separated_by_semicolons():
    found = table("time;value\n0;1,5\n1;-2,25e3\n")
    assert found.layout.sep == ";" and found.layout.decimal_comma
    assert found.kinds == (NUMBER, NUMBER)
    assert not table("time;value\n0;1.5\n").layout.decimal_comma


def test_a_bom_a_title_and_a_header_behind_a_hash():
    found = table("\ufeffTemperature log, lab 3\r\n# time,value\r\n0,21.5\r\n1,21.6\r\n")
    assert found.names == ("time", "value") and found.names_line == 1
    assert table("\ufefftime,value\n0,1\n").names[0] == "time"


@pytest.mark.parametrize("values, shape", [
    (["2012-01-01", "2012-01-02"], ISO),
    (["2012/01/01", "2012/01/02"], ISO),
    (["2026-12-08T10:00:00.250+01:00", "2026-12-08 10:00:01Z"], ISO),
    (["1/1/2006", "1/2/2006"], MDY),          # "/" and no day over 12: month first
    (["1/1/2006", "13/1/2006"], DMY),         # a first field over 12: a day
    (["01.12.2026", "08.12.2026"], DMY),      # "." means day first
    (["12/13/2026 10:00", "1/1/2026 11:00"], MDY),
    (["Jan 1 2000", "1 Feb 2000", "January 3, 2000", "04-Mar-2000"], MONTH),
    (["12:00:01", "12:00:02.5"], DAYTIME),
    (["12:00:01 AM", "1:00:02 pm"], DAYTIME),
])
def test_each_time_shape(values, shape):
    rows = "".join(f'"{value}",{i}\n' for i, value in enumerate(values))
    found = table("when,n\n" + rows)
    assert found.layout.columns[0] == ColumnLayout(TIME, shape)
    assert found.kinds == (TIME, NUMBER)


@pytest.mark.parametrize("name, value, scale", [
    ("time", "1765188000", 1.0), ("timestamp", "1765188000123", 1e-3),
    ("ts", "1765188000123456", 1e-6), ("unix", "1765188000123456789", 1e-9),
])
def test_epoch_numbers_in_a_column_named_as_a_time(name, value, scale):
    found = table(f"{name},v\n{value},1\n")
    assert found.layout.columns[0] == ColumnLayout(TIME, EPOCH, scale=scale)


def test_small_or_unnamed_numbers_stay_numbers():
    assert table("t,v\n0.0,1\n0.1,2\n").kinds == (NUMBER, NUMBER)
    assert table("count,v\n1765188000,1\n").kinds == (NUMBER, NUMBER)


def test_a_text_column_and_missing_words():
    found = table("date,category,value\n2012-01-01,fruit,NA\n2012-01-02,N/A,2\n"
                  "2012-01-03,veg,-\n")
    assert found.kinds == (TIME, TEXT, NUMBER)


def test_nothing_is_decided_before_two_rows_unless_the_stream_ended():
    assert table("Title\n", final=False) is None
    assert table(VMSTAT_GROUPS + "\n" + VMSTAT_NAMES + "\n", final=False) is None
    assert table("t,v\n0,ERR\n", final=False) is None  # one row: the next line may tell
    found = table("time,value\n")
    assert found.names == ("time", "value") and found.first_data_line == 1
    assert table("\n# just a comment\n") is None
    numbers_only = table("1,2,3\n4,5,6\n", final=False)
    assert numbers_only.names == ("c1", "c2", "c3") and numbers_only.first_data_line == 0


def test_options_say_the_names_line_the_names_the_separator_and_a_time_format():
    text = "Run 7 of 9\nt v\n0 1\n1 2\n"
    assert table(text, names_line=0).names == ("Run", "7")
    given = table(text, names=["time", "value"])
    assert given.names == ("time", "value") and given.first_data_line == 2
    assert table("a;b,c\n1;2,5\n", sep=",").layout.sep == ","
    stamped = table("when,v\n08122026-100000,1\n", time_format="%d%m%Y-%H%M%S")
    assert stamped.layout.columns[0] == ColumnLayout(TIME, STRFTIME, time_format="%d%m%Y-%H%M%S")


def test_a_time_format_with_spaces_spans_fields_of_an_aligned_printout():
    found = table("when v\n08 Dec 2026 1\n09 Dec 2026 2\n", time_format="%d %b %Y")
    assert found.layout.width == 4 and found.kinds == (TIME, NUMBER)
    assert [c.with_next for c in found.layout.columns] == [True, True, False, False]


def _tool_output(*command):
    if shutil.which(command[0]) is None:
        pytest.skip(f"{command[0]} is not installed")
    return subprocess.run(command, capture_output=True, text=True, timeout=20,
                          env={"LC_ALL": "C", "PATH": "/usr/bin:/bin"}).stdout


@pytest.mark.parametrize("command, first_name, kinds", [
    (("vmstat",), "r", {NUMBER}),
    (("vmstat", "-t"), "r", {NUMBER, TIME}),
    (("iostat", "-d"), "Device", {TEXT, NUMBER}),
    (("mpstat",), "time", {TIME, TEXT, NUMBER}),
])
def test_real_tools_output(command, first_name, kinds):
    lines = _tool_output(*command).splitlines(True)
    found = sniff(lines, final=True)  # the tool has ended
    assert found.names[0] == first_name and set(found.kinds) == kinds
    assert all(found.repeats(line) for line in lines[:found.first_data_line]
               if not line.startswith("#@"))


def test_a_spreadsheet_export_gives_the_feed_its_columns():
    found = table("\ufeffMessprotokoll Halle 3;;;\r\nDatum;Zeit;Spannung;Status\r\n;;[V];\r\n"
                  "08.12.2026;10:00:00;1,5;an\r\n08.12.2026;10:00:01;NA;aus\r\n")
    columns = found.columns()
    assert columns == ["Datum Zeit", "Spannung", "Status"]
    assert columns.kinds == (TIME, NUMBER, TEXT) and columns.units == ("", "V", "")
    assert found.layout.decimal_comma and found.first_data_line == 3

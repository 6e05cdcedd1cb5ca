"""The typed-table block parse (formats/tableblock.py over the native
_textrows table): each value read as Python itself reads it."""

import csv
import datetime
import io
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tarvinel.stelvane.formats.layout import (DAYTIME, DMY, EPOCH, ISO, MDY, MISSING_WORDS, MONTH,
                                              STRFTIME, ColumnLayout, TableLayout)
from tarvinel.stelvane.formats.tableblock import BadLine, TableState, parse_block
from tarvinel.stelvane.protocol import TEXT, TIME

from tests.support.timezones import local_zone

NUMBER_COLUMN = ColumnLayout()
TEXT_COLUMN = ColumnLayout(TEXT)
START = datetime.date(2026, 12, 8)


@pytest.fixture(scope="module")
def berlin_tz():
    """Europe/Berlin (daylight-saving time from the last Sunday of March to
    the last Sunday of October) for a whole module: hypothesis runs many
    examples in one test. One test at a time: the top conftest's berlin."""
    with local_zone("Europe/Berlin"):
        yield


def lines(*texts: str) -> bytes:
    return "".join(text + "\n" for text in texts).encode()


def parse(data: bytes, *columns: ColumnLayout, state=None, **layout):
    return parse_block(data, TableLayout(columns=columns, **layout), state or TableState(START))


def times(shape: str, *texts: str, **column) -> np.ndarray:
    block = parse(lines(*texts), ColumnLayout(TIME, shape, **column))
    assert block.bad == []
    return block.rows[:, 0]


# --- time shapes --------------------------------------------------------------------

zones = st.one_of(st.none(), st.integers(-14 * 60, 14 * 60).map(lambda m: datetime.timezone(
    datetime.timedelta(minutes=m))))


def iso_text(moment: datetime.datetime, digits: int, joint: str, zone_form: int) -> str:
    text = moment.strftime(f"%Y-%m-%d{joint}%H:%M:%S")
    if digits:
        text += "." + f"{moment.microsecond:06d}"[:digits]
    offset = moment.utcoffset()
    if offset is None:
        return text
    minutes = int(offset.total_seconds()) // 60
    sign, minutes = "+-"[minutes < 0], abs(minutes)
    forms = ["Z" if minutes == 0 else f"{sign}{minutes // 60:02d}:{minutes % 60:02d}",
             f"{sign}{minutes // 60:02d}{minutes % 60:02d}",
             f"{sign}{minutes // 60:02d}" if minutes % 60 == 0 else f"{sign}{minutes // 60:02d}:{minutes % 60:02d}"]
    return text + forms[zone_form]


@settings(max_examples=300)
@given(st.datetimes(datetime.datetime(1971, 1, 1), datetime.datetime(2037, 12, 31)),
       zones, st.integers(0, 6), st.sampled_from("T "), st.integers(0, 2))
def test_iso_date_times_read_as_python_reads_them(berlin_tz, moment, zone, digits, joint, zone_form):
    # Naive times are Berlin's wall clock: gaps and repeated hours included. A
    # repeated hour's text cannot say which of the two it is: the first.
    moment = moment.replace(microsecond=moment.microsecond // 10 ** (6 - digits) * 10 ** (6 - digits),
                            tzinfo=zone, fold=0)
    text = iso_text(moment, digits, joint, zone_form)
    assert times(ISO, text)[0] == pytest.approx(moment.timestamp(), abs=1e-6), text


@pytest.mark.parametrize("shape, text, expected", [
    (ISO, "2012-01-01", datetime.datetime(2012, 1, 1)),
    (ISO, "2012/01/01", datetime.datetime(2012, 1, 1)),
    (ISO, "2012/1/5 10:00", datetime.datetime(2012, 1, 5, 10)),
    (ISO, "2026-12-08T10:00:00.123456789Z", datetime.datetime(2026, 12, 8, 10, 0, 0, 123457,
                                                              datetime.timezone.utc)),
    (DMY, "08.12.2026", datetime.datetime(2026, 12, 8)),
    (DMY, "1/1/2006", datetime.datetime(2006, 1, 1)),
    (DMY, "31.12.69", datetime.datetime(2069, 12, 31)),  # two digits: 1970 to 2069
    (MDY, "1/2/70 10:00", datetime.datetime(1970, 1, 2, 10)),
    (DMY, "8-12-2026 10:00:05.5", datetime.datetime(2026, 12, 8, 10, 0, 5, 500000)),
    (DMY, "8.12.2026 1:05 PM", datetime.datetime(2026, 12, 8, 13, 5)),
    (MDY, "12/8/2026", datetime.datetime(2026, 12, 8)),
    (MDY, "2/29/2024 12:00:01 AM", datetime.datetime(2024, 2, 29, 0, 0, 1)),
    (MONTH, "Jan 1 2000", datetime.datetime(2000, 1, 1)),
    (MONTH, "1 Jan 2000", datetime.datetime(2000, 1, 1)),
    (MONTH, "January 1, 2000", datetime.datetime(2000, 1, 1)),
    (MONTH, "01-Jan-2000", datetime.datetime(2000, 1, 1)),
    (MONTH, "SEPT 30 2001 12:30 pm", datetime.datetime(2001, 9, 30, 12, 30)),
    (MONTH, "2000-dec-31 23:59:59", datetime.datetime(2000, 12, 31, 23, 59, 59)),
])
def test_each_date_shape_reads_as_the_date_it_spells(berlin, shape, text, expected):
    assert times(shape, text)[0] == pytest.approx(expected.timestamp(), abs=1e-6)


@pytest.mark.parametrize("shape, text", [
    (ISO, "2026-02-30"), (ISO, "2026-12-08 24:00"), (ISO, "2026-12-08T10:60"), (DMY, "32.1.2026"),
    (MDY, "13/1/2026"), (DMY, "1.1.206"), (MONTH, "Foo 1 2000"), (DAYTIME, "13:00 PM"),
    (DAYTIME, "12:00:61"), (ISO, "2026-12-08T10:00+25:00"), (EPOCH, "12:00"),
])
def test_a_field_that_spells_no_time_sets_its_line_aside(shape, text):
    block = parse(lines(text), ColumnLayout(TIME, shape))
    assert len(block.rows) == 0 and "is not a time like" in block.bad[0].reason


def test_times_of_day_land_on_the_start_date_and_roll_over_past_midnight(berlin):
    state = TableState(START)
    layout = TableLayout(sep=",", columns=(ColumnLayout(TIME, DAYTIME),))
    first = parse_block(lines("23:59:58", "11:59:59 PM", "NA"), layout, state).rows[:, 0]
    second = parse_block(lines("12:00:01 AM", "9:05", "12:30:00.5 pm"), layout, state).rows[:, 0]
    day, next_day = (datetime.datetime.combine(d, datetime.time()) for d in
                     (START, START + datetime.timedelta(days=1)))
    assert first[:2].tolist() == [(day + datetime.timedelta(seconds=s)).timestamp() for s in (86398, 86399)]
    assert math.isnan(first[2])
    assert second.tolist() == [(next_day + datetime.timedelta(seconds=s)).timestamp()
                               for s in (1, 9 * 3600 + 300, 12.5 * 3600 + 0.5)]


def test_epoch_columns_scale_to_seconds():
    assert times(EPOCH, "1796724000500", "NA", scale=1e-3)[0] == 1796724000.5
    assert times(EPOCH, "1796724000", scale=1.0)[0] == 1796724000.0


def test_a_date_and_the_time_in_the_next_field_make_one_column(berlin):
    columns = (ColumnLayout(TIME, ISO, with_next=True), ColumnLayout(TIME, DAYTIME), NUMBER_COLUMN)
    block = parse(lines("2026-03-29   01:30:00  1", "2026-03-29 03:30:00.25 2", "2026-03-29 x 3"),
                  *columns, sep=None)
    expected = [datetime.datetime(2026, 3, 29, 1, 30).timestamp(),
                datetime.datetime(2026, 3, 29, 3, 30, 0, 250000).timestamp()]
    assert block.rows[:, 0].tolist() == expected and block.rows[:, 1].tolist() == [1, 2]
    assert block.bad == [BadLine(2, "'x' is not a time of day like 10:00:00")]


def test_a_time_format_column_reads_through_strptime(berlin):
    block = parse(lines("08122026 1030,1", "NA,2", "1230,3"),
                  ColumnLayout(TIME, STRFTIME, time_format="%d%m%Y %H%M"), NUMBER_COLUMN)
    assert block.rows[0, 0] == datetime.datetime(2026, 12, 8, 10, 30).timestamp()
    assert math.isnan(block.rows[1, 0]) and block.rows[:, 1].tolist() == [1, 2]
    assert block.bad == [BadLine(2, "'1230' is not a time in the format '%d%m%Y %H%M'")]


def test_a_time_format_with_blanks_spans_the_fields_blanks_separate(berlin):
    spanning = ColumnLayout(TIME, STRFTIME, time_format="%d %b %Y", with_next=True)
    block = parse(lines("08 Dec 2026 1 on", "31 Foo 2026 2 off", "09 Dec 2026 3 idle"),
                  spanning, spanning, ColumnLayout(TIME, DAYTIME), NUMBER_COLUMN, TEXT_COLUMN,
                  sep=None, quote=None)
    days = [datetime.datetime(2026, 12, d).timestamp() for d in (8, 9)]
    assert block.rows.tolist() == [[days[0], 1, 0], [days[1], 3, 2]]
    assert block.words == {2: ["on", "off", "idle"]}
    assert block.bad == [BadLine(1, "'31 Foo 2026' is not a time in the format '%d %b %Y'")]


def test_naive_times_across_both_daylight_saving_changes(berlin):
    """The repeated hour is its first occurrence; the skipped one keeps the
    offset before the change; either side the offset in force."""
    walls = [datetime.datetime(2026, 3, 29, 1, 59, 59), datetime.datetime(2026, 3, 29, 2, 30),
             datetime.datetime(2026, 3, 29, 3, 0), datetime.datetime(2026, 10, 25, 1, 59, 59),
             datetime.datetime(2026, 10, 25, 2, 30), datetime.datetime(2026, 10, 25, 3, 0)]
    got = times(ISO, *(w.isoformat(" ") for w in walls))
    assert got.tolist() == [w.timestamp() for w in walls]
    assert np.diff(got).tolist()[:2] == [1801, -1800]  # 02:30 CET is 03:30 CEST, after 03:00 CEST
    assert got[4] - got[3] == 1801 and got[5] - got[4] == 3600 + 1800


# --- separators, quoting, decimal comma --------------------------------------------

words = st.text(st.characters(codec="utf-8", exclude_characters="\n\r\x00"), max_size=8).filter(
    lambda w: w.strip() == w and w not in ("",) and not w.startswith('"'))
numbers = st.floats(allow_nan=False, width=64)


@settings(max_examples=150)
@given(st.lists(st.tuples(words, numbers, numbers), min_size=1, max_size=20),
       st.sampled_from([",", ";", "\t", "|"]), st.sampled_from([csv.QUOTE_MINIMAL, csv.QUOTE_ALL]))
def test_rows_read_as_the_csv_module_and_float_read_them(rows, sep, quoting):
    out = io.StringIO()
    csv.writer(out, delimiter=sep, quoting=quoting, lineterminator="\r\n").writerows(
        (w, repr(a), repr(b)) for w, a, b in rows)
    data = out.getvalue().encode()
    block = parse(data, TEXT_COLUMN, NUMBER_COLUMN, NUMBER_COLUMN, sep=sep)
    expected = list(csv.reader(io.StringIO(out.getvalue()), delimiter=sep))
    assert block.bad == []
    assert block.rows[:, 1:].tolist() == [[float(a), float(b)] for _, a, b in expected]
    assert [block.words[0][int(c)] for c in block.rows[:, 0] if not math.isnan(c)] == [
        w for w, *_ in expected if not _is_missing(w)]


def _is_missing(word: str) -> bool:
    return word in MISSING_WORDS


@settings(max_examples=100)
@given(st.lists(st.lists(numbers, min_size=3, max_size=3), min_size=1, max_size=20),
       st.sampled_from([";", "\t", None]))
def test_decimal_commas_read_as_their_points_would(rows, sep):
    text = "".join((sep or "  ").join(repr(v).replace(".", ",") for v in row) + "\n" for row in rows)
    block = parse(text.encode(), NUMBER_COLUMN, NUMBER_COLUMN, NUMBER_COLUMN, sep=sep, decimal_comma=True)
    assert block.bad == [] and block.rows.tolist() == rows


def test_runs_of_blanks_quotes_and_missing_words():
    block = parse(lines("  1   NA  \"a b\"  ", "\t2\t-\tc\t", '3 "" "say ""hi"""'), NUMBER_COLUMN,
                  NUMBER_COLUMN, TEXT_COLUMN, sep=None)
    assert block.bad == []
    assert block.rows[:, 0].tolist() == [1, 2, 3] and np.isnan(block.rows[:, 1]).all()
    assert block.rows[:, 2].tolist() == [0, 1, 2] and block.words == {2: ["a b", "c", 'say "hi"']}


blanks = st.text(st.sampled_from(" \t"), min_size=1, max_size=3)
# (Python splits at other spaces too, the form feed, U+2028; a table does not.)
single_words = words.filter(lambda w: len(w.split()) == 1)


@settings(max_examples=100)
@given(st.lists(st.tuples(numbers, blanks, st.lists(st.tuples(single_words, blanks), min_size=1,
                                                    max_size=5)), min_size=1, max_size=10))
def test_a_last_column_that_takes_the_rest_reads_it_as_python_splits_it(rows):
    text = "".join(f"{value!r}{gap}" + "".join(w + b for w, b in rest) + "\r\n"
                   for value, gap, rest in rows)
    block = parse(text.encode(), NUMBER_COLUMN, TEXT_COLUMN, sep=None, rest=True)
    expected = [line.split(None, 1) for line in text.splitlines()]
    assert block.bad == [] and block.rows[:, 0].tolist() == [float(v) for v, _ in expected]
    assert [block.words[1][int(c)] for c in block.rows[:, 1] if not math.isnan(c)] == [
        rest.strip() for _, rest in expected if not _is_missing(rest.strip())]


# --- bad lines, text levels ---------------------------------------------------------

def test_bad_lines_in_the_middle_are_set_aside_with_their_reason():
    block = parse(lines("1,a", "abc,b", "2,c,3", '"4,d', '5"x",e', "6", "7,f"), NUMBER_COLUMN, TEXT_COLUMN)
    assert block.rows.tolist() == [[1, 0], [7, 1]]
    assert block.bad == [BadLine(1, "'abc' is not a number"), BadLine(2, "3 values, 2 columns expected"),
                         BadLine(3, "an unclosed quote in field 1"),
                         BadLine(4, "'5\"x\"' is not a number"),
                         BadLine(5, "1 values, 2 columns expected")]
    # the words of bad lines are no levels
    assert block.words == {1: ["a", "f"]}
    blank_separated = parse(lines("1", "  ", "2"), NUMBER_COLUMN, sep=None)
    assert blank_separated.rows.tolist() == [[1], [2]]
    assert blank_separated.bad == [BadLine(1, "0 values, 1 columns expected")]


def test_text_codes_continue_across_blocks():
    state = TableState(START)
    layout = TableLayout(columns=(TEXT_COLUMN, NUMBER_COLUMN, TEXT_COLUMN))
    first = parse_block(lines("idle,1,x", "busy,2,x", "idle,3,NA"), layout, state)
    second = parse_block(lines("busy,4,y", "off,5,x"), layout, state)
    third = parse_block(lines("off,6,y"), layout, state)
    assert first.rows[:, 0].tolist() == [0, 1, 0] and first.words == {0: ["idle", "busy"], 2: ["x"]}
    assert second.rows[:, [0, 2]].tolist() == [[1, 1], [2, 0]] and second.words == {0: ["off"], 2: ["y"]}
    assert third.words == {} and state.words == {0: ["idle", "busy", "off"], 2: ["x", "y"]}
    # another layout starts the words afresh
    other = parse_block(lines("off,1"), TableLayout(columns=(TEXT_COLUMN, NUMBER_COLUMN)), state)
    assert other.rows[0, 0] == 0 and other.words == {0: ["off"]}


MONTH_NAMES = ("January", "February", "March", "April", "May", "June", "July", "August", "September",
               "October", "November", "December")


def date_spellings(moment: datetime.datetime, case: int) -> dict[str, list[str]]:
    d, m, y = moment.day, moment.month, moment.year
    name = MONTH_NAMES[m - 1]
    name = (name, name[:3], name.upper(), name[:3].lower())[case]
    clock = moment.strftime("%H:%M:%S")
    twelve = f"{(moment.hour - 1) % 12 + 1}:{moment.minute:02d}:{moment.second:02d} {'AP'[moment.hour >= 12]}M"
    return {
        DMY: [f"{d:02d}.{m:02d}.{y} {clock}", f"{d}/{m}/{y} {twelve}", f"{d}-{m}-{y}T{clock}"],
        MDY: [f"{m}/{d}/{y} {clock}", f"{m:02d}-{d:02d}-{y} {twelve}"],
        MONTH: [f"{name} {d} {y} {clock}", f"{d} {name} {y} {twelve}", f"{name} {d}, {y} {clock}",
                f"{d:02d}-{name}-{y} {clock}", f"{y}-{name}-{d:02d} {twelve}"],
    }


@settings(max_examples=150)
@given(st.datetimes(datetime.datetime(1971, 1, 1), datetime.datetime(2037, 12, 31)), st.integers(0, 3))
def test_day_month_orders_and_month_names_read_as_the_dates_they_spell(berlin_tz, moment, case):
    moment = moment.replace(microsecond=0)
    for shape, texts in date_spellings(moment, case).items():
        assert times(shape, *texts).tolist() == [moment.timestamp()] * len(texts), texts


def test_an_aligned_printout_with_am_pm_times_and_crlf_lines(berlin):
    """As sar and iostat print: a time of day with AM/PM is one field, though
    blanks separate the others."""
    columns = (ColumnLayout(TIME, DAYTIME), TEXT_COLUMN, NUMBER_COLUMN, NUMBER_COLUMN)
    data = b"12:00:01 AM  all  0.50  1\r\n12:00:02 PM  cpu0 -  2\r\n01:00:03 PM  cpu0 x 3 4\r\n"
    block = parse(data, *columns, sep=None)
    midnight = datetime.datetime.combine(START, datetime.time())
    assert block.rows[:, 0].tolist() == [(midnight + datetime.timedelta(seconds=s)).timestamp()
                                         for s in (1, 12 * 3600 + 2)]
    assert block.rows[:, 1].tolist() == [0, 1] and block.rows[0, 2] == 0.5 and math.isnan(block.rows[1, 2])
    assert block.bad == [BadLine(2, "5 values, 4 columns expected")]


def test_zones_and_fractions_in_a_pair_and_bytes_that_are_no_utf8(berlin):
    columns = (ColumnLayout(TIME, DMY, with_next=True), ColumnLayout(TIME, DAYTIME), TEXT_COLUMN)
    block = parse(b"08.12.2026;10:00:00,5+01:00;caf\xe9\n08.12.2026;NA;\"a;b\"\n", *columns, sep=";",
                  decimal_comma=True)
    assert block.rows[0, 0] == datetime.datetime(2026, 12, 8, 9, 0, 0, 500000,
                                                 datetime.timezone.utc).timestamp()
    assert math.isnan(block.rows[1, 0]) and block.words == {1: ["caf\ufffd", "a;b"]}


def test_a_layout_the_parse_cannot_follow_is_refused():
    with pytest.raises(ValueError, match="decimal comma"):
        parse(b"1\n", NUMBER_COLUMN, sep=",", decimal_comma=True)
    with pytest.raises(ValueError, match="sep"):
        parse(b"1\n", NUMBER_COLUMN, sep=".")
    with pytest.raises(ValueError, match="last column"):
        parse(b"1\n", ColumnLayout(TIME, ISO, with_next=True))
    with pytest.raises(ValueError, match="rest of the line"):
        parse(b"1\n", TEXT_COLUMN, sep=",", rest=True)

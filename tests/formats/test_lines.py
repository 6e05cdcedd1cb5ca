"""Line formats whose values carry their names, and times read as epoch seconds."""

import math
import time
from datetime import date, datetime, timezone

import numpy as np
import pytest

from tarvinel.stelvane.formats.layout import (DAYTIME, DMY, EPOCH, ISO, MDY, MONTH, STRFTIME,
                                              ColumnLayout)
from tarvinel.stelvane.formats.lines import (JSONL, KEYVALUE, MARKED, TABLE, KeyedReader,
                                             recognise)
from tarvinel.stelvane.formats.timevalues import DayClock, time_seconds
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME


@pytest.fixture
def zone(monkeypatch):
    """Sets the local time zone of this process for one test."""
    def set_zone(name: str) -> None:
        monkeypatch.setenv("TZ", name)
        time.tzset()
    yield set_zone
    monkeypatch.undo()
    time.tzset()


def utc(*fields) -> float:
    return datetime(*fields, tzinfo=timezone.utc).timestamp()


def read(line_format: str, text: str):
    return KeyedReader(line_format).take(text.splitlines(True))


def same(block, expected) -> bool:
    return np.array_equal(block, np.array(expected, float), equal_nan=True)


@pytest.mark.parametrize("text, line_format", [
    ("temp:21.5,hum:40\ntemp:21.6,hum:41\n", KEYVALUE),
    ("temp=21.5 hum=40\n", KEYVALUE),
    ("temp: 21.5\thum: 40\n", KEYVALUE),
    (">accX:-0.011\n>accY:0.2\n", MARKED),
    ('{"ts": "2026-12-08T10:00:00", "temp": 21.5}\n', JSONL),
    ("time,value\n0,1\n1,2\n", TABLE),
    ("12:00:01 AM all 0.5\n", TABLE),
])
def test_the_format_is_recognised_from_the_first_lines(text, line_format):
    assert recognise(("# a comment\n\n" + text).splitlines(True)) == line_format


def test_no_format_before_a_line_with_something_in_it():
    assert recognise(["\n", "# hello\n"]) is None


def test_label_value_pairs_and_a_name_that_comes_later():
    reader = KeyedReader(KEYVALUE)
    first = reader.take(["temp:21.5,hum:40\n", "temp=21.6, hum=41, co2=400\n"])
    assert first.columns == ["temp", "hum", "co2"] and first.columns.kinds == (NUMBER,) * 3
    assert same(first.block, [[21.5, 40, math.nan], [21.6, 41, 400]])
    later = reader.take(["temp:21.7 hum:42 co2:401 state:ok\n"])
    # The columns so far keep their places; the new one comes last.
    assert later.columns == ["temp", "hum", "co2", "state"]
    assert later.columns.kinds == (NUMBER, NUMBER, NUMBER, TEXT)
    assert same(later.block, [[21.7, 42, 401, 0]]) and later.words == {3: ["ok"]}
    assert reader.take(["temp:21.8,hum:43\n"]).columns is None  # no new name: no new columns


def test_a_line_of_labels_names_the_bare_values_after_it():
    block = read(KEYVALUE, "temp,hum\n21.5,40\nx:1\n")
    assert block.columns == ["temp", "hum", "x"]
    assert same(block.block, [[21.5, 40, math.nan], [math.nan, math.nan, 1]])


def test_marked_lines_gather_into_rows_until_a_name_comes_again():
    block = read(MARKED, ">accX:-0.011\n>accY:0.5§g|np\nboot message\n>accX:-0.012\n>accY:0.6\n")
    assert block.columns == ["accX", "accY"] and block.columns.units == ("", "g")
    assert same(block.block, [[-0.011, 0.5], [-0.012, 0.6]])


def test_marked_lines_with_a_time_in_milliseconds():
    block = read(MARKED, ">a:1765188000123:1.5\n>b:1765188000123:2\n>a:1765188000223:1.6\n")
    assert block.columns == ["time", "a", "b"] and block.columns.kinds == (TIME, NUMBER, NUMBER)
    assert same(block.block, [[1765188000.123, 1.5, 2], [1765188000.223, 1.6, math.nan]])


def test_json_lines_flatten_nested_keys_and_read_booleans_times_and_words(zone):
    zone("UTC")
    reader = KeyedReader(JSONL)
    block = reader.take(['{"ts": "2026-12-08T10:00:00Z", "temp": 21.5, "ok": true,'
                         ' "dev": {"id": 3, "pos": [1, 2]}, "state": "run"}\n',
                         '{"ts": "2026-12-08T10:00:01Z", "temp": null, "ok": false,'
                         ' "state": "stop"}\n', 'not json\n', '[1, 2]\n'])
    assert block.columns == ["ts", "temp", "ok", "dev.id", "dev.pos.0", "dev.pos.1", "state"]
    assert block.columns.kinds == (TIME, NUMBER, NUMBER, NUMBER, NUMBER, NUMBER, TEXT)
    t0 = utc(2026, 12, 8, 10)
    assert same(block.block, [[t0, 21.5, 1, 3, 1, 2, 0],
                              [t0 + 1, math.nan, 0, math.nan, math.nan, math.nan, 1]])
    assert block.words == {6: ["run", "stop"]}
    assert [index for index, _ in block.rejected] == [2, 3]
    # Words go on from the codes given so far; only new ones are sent.
    later = reader.take(['{"state": "stop"}\n', '{"state": "idle"}\n'])
    assert same(later.block[:, 6], [1, 2]) and later.words == {6: ["idle"]}


def test_a_value_that_does_not_fit_its_column_is_rejected_alone():
    block = read(KEYVALUE, "temp:21.5,hum:40\ntemp:broken,hum:41\n")
    assert same(block.block, [[21.5, 40], [math.nan, 41]])
    assert block.rejected == [(1, "temp: 'broken' is not a number")]


@pytest.mark.parametrize("text, column, expected", [
    ("2026-12-08T10:00:00.250+01:00", ColumnLayout(TIME, ISO), utc(2026, 12, 8, 9, 0, 0, 250000)),
    ("2026-12-08 10:00Z", ColumnLayout(TIME, ISO), utc(2026, 12, 8, 10)),
    ("2012/01/01", ColumnLayout(TIME, ISO), utc(2012, 1, 1)),
    ("08.12.2026", ColumnLayout(TIME, DMY), utc(2026, 12, 8)),
    ("12/8/2026 1:30 PM", ColumnLayout(TIME, MDY), utc(2026, 12, 8, 13, 30)),
    ("1/1/06", ColumnLayout(TIME, MDY), utc(2006, 1, 1)),
    ("0099-01-01", ColumnLayout(TIME, ISO), utc(99, 1, 1)),  # four digits: no century added
    ("January 1, 2000", ColumnLayout(TIME, MONTH), utc(2000, 1, 1)),
    ("01-Jan-2000 10:00:00", ColumnLayout(TIME, MONTH), utc(2000, 1, 1, 10)),
    ("1765188000123", ColumnLayout(TIME, EPOCH, scale=1e-3), 1765188000.123),
    ("08122026-1000", ColumnLayout(TIME, STRFTIME, time_format="%d%m%Y-%H%M"),
     utc(2026, 12, 8, 10)),
    ("NA", ColumnLayout(TIME, ISO), math.nan),
])
def test_each_time_shape_reads_as_epoch_seconds(zone, text, column, expected):
    zone("UTC")
    assert same(time_seconds(text, column), expected)


def test_a_time_of_another_shape_is_refused():
    with pytest.raises(ValueError):
        time_seconds("13:00:00 PM", ColumnLayout(TIME, DAYTIME))
    with pytest.raises(ValueError):
        time_seconds("all", ColumnLayout(TIME, ISO))


def test_times_of_day_lie_on_the_first_day_and_roll_over_midnight(zone):
    zone("UTC")
    clock = DayClock(date(2026, 12, 8))
    column = ColumnLayout(TIME, DAYTIME)
    seconds = [time_seconds(t, column, clock)
               for t in ("11:59:59 PM", "12:00:01 AM", "12:30:00 PM", "1:00:00 AM", "11:00:00 PM",
                         "1:00:00 AM")]
    day = utc(2026, 12, 8)
    # Back by less than half a day is no new day (out-of-order lines).
    assert seconds == [day + 86399, day + 86401, day + 86400 + 45000, day + 86400 + 3600,
                       day + 86400 + 82800, day + 2 * 86400 + 3600]


def test_local_times_across_a_daylight_saving_change(zone):
    zone("Europe/Berlin")
    iso = ColumnLayout(TIME, ISO)
    # Before and after the change in spring: one real hour between 01:30 and 03:30.
    assert time_seconds("2026-03-29 03:30", iso) - time_seconds("2026-03-29 01:30", iso) == 3600
    # The hour repeated in autumn is read as its first occurrence (summer time).
    assert time_seconds("2026-10-25 02:30", iso) == utc(2026, 10, 25, 0, 30)
    assert time_seconds("2026-10-25 03:30", iso) == utc(2026, 10, 25, 2, 30)

"""Values as a user reads them: numbers as the readout writes them, times in
the local zone across daylight-saving changes, text levels as words, ISO
texts that read back to the same number, durations."""
from datetime import datetime
from fractions import Fraction
import math
import re

from hypothesis import given, strategies as st
import pytest

from tarvinel.stelvane.widgets import readout, views
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME
from tarvinel.stelvane.formats.valuetext import duration_text, iso_text, iso_texts, value_text

from tests.support.timezones import FALL_BACK, HOUR, SPRING_FORWARD, local_zone

BERLIN_TAKES_CET = -2422054408  # 1893-04-01, from local mean time (+00:53:28)
WINTER_MORNING = 1796720400  # 2026-12-08 10:00:00 in Berlin (CET, +01:00)
ZONES = ["Europe/Berlin", "America/St_Johns", "Asia/Kathmandu", "UTC", "Australia/Lord_Howe"]
# 1900 to 2200: the sensible range of a time column.
SENSIBLE = dict(min_value=-2208988800.0, max_value=7258118400.0, allow_nan=False)


@pytest.mark.parametrize("value", [0.0, 1.0, -2.5, 1234567.891, 1e-12, 6.02e23, math.inf, math.nan])
def test_a_number_reads_as_the_readout_and_data_box_write_it(value):
    assert value_text(value, NUMBER) == readout.format_number(value) == views.format_value(value)
    assert value_text(complex(value, 2), NUMBER) == views.format_value(complex(value, 2))


@pytest.mark.parametrize("value, shown", [
    (WINTER_MORNING, "2026-12-08 10:00:00"),
    (WINTER_MORNING + 0.25, "2026-12-08 10:00:00.250"),
    (WINTER_MORNING + 0.1, "2026-12-08 10:00:00.100"),
    (WINTER_MORNING + 0.123456, "2026-12-08 10:00:00.123456"),
    (WINTER_MORNING + 59.9999999, "2026-12-08 10:01:00"),  # rounds to the microsecond, carrying
    (WINTER_MORNING - 200 * 86400, "2026-05-22 11:00:00"),  # summer: +02:00
    (-0.5, "1970-01-01 00:59:59.500"),
    (math.nan, "nan"), (1e20, "1e+20"),  # missing, and beyond the calendar
])
def test_a_time_reads_as_local_date_and_time_with_the_fraction_it_has(berlin, value, shown):
    assert value_text(value, TIME) == shown


def test_times_across_the_daylight_saving_changes_read_as_the_clock_did(berlin):
    spring = [value_text(SPRING_FORWARD + d, TIME)[11:] for d in (-1, 0)]
    assert spring == ["01:59:59", "03:00:00"]
    first, second = FALL_BACK - HOUR / 2, FALL_BACK + HOUR / 2  # the repeated half past two
    assert value_text(first, TIME) == value_text(second, TIME) == "2026-10-25 02:30:00"
    assert (iso_text(first), iso_text(second)) == ("2026-10-25T02:30:00+02:00", "2026-10-25T02:30:00+01:00")


def test_the_time_zone_is_the_one_the_process_sees_now(berlin):
    with local_zone("America/New_York"):
        assert iso_text(WINTER_MORNING) == "2026-12-08T04:00:00-05:00"
    assert iso_text(WINTER_MORNING) == "2026-12-08T10:00:00+01:00"


@pytest.mark.parametrize("code, shown", [(0.0, "idle"), (2.0, "error"), (3.0, "3"), (1.5, "1.5"),
                                         (-1.0, "-1"), (math.inf, "inf"), (math.nan, "nan")])
def test_a_text_level_reads_as_its_word_and_an_unknown_code_as_its_number(code, shown):
    assert value_text(code, TEXT, ["idle", "busy", "error"]) == shown


ISO = re.compile(r"(?P<clock>.*T\d\d:\d\d:\d\d)(?:\.(?P<digits>\d+))?(?P<zone>.*)")


def read_iso_exactly(text: str) -> float:
    """Seconds since the epoch of an ISO text, every digit of its fraction
    kept (fromisoformat keeps six), rounded once."""
    parts = ISO.fullmatch(text)
    whole = datetime.fromisoformat(parts["clock"] + parts["zone"]).timestamp()
    digits = parts["digits"] or ""
    return float(Fraction(int(whole)) + Fraction(int(digits or "0"), 10 ** len(digits)))


@given(micro=st.integers(-2208988800 * 10**6, 7258118400 * 10**6), zone=st.sampled_from(ZONES))
def test_iso_text_reads_back_with_fromisoformat_to_the_same_float(micro, zone):
    value = micro / 10**6  # a time as a text of six digits or fewer gives it
    with local_zone(zone):
        assert datetime.fromisoformat(iso_text(value)).timestamp() == value


@given(value=st.floats(**SENSIBLE), zone=st.sampled_from(ZONES))
def test_iso_text_holds_every_digit_of_any_float(value, zone):
    with local_zone(zone):
        text = iso_text(value)
    assert read_iso_exactly(text) == value
    assert datetime.fromisoformat(text).timestamp() == pytest.approx(value, abs=1e-6)


@given(values=st.lists(st.one_of(st.floats(**SENSIBLE), st.just(math.nan),
                                 st.integers(0, 10**16).map(lambda m: m / 10**6 + 1.7e9))),
       zone=st.sampled_from(ZONES))
def test_a_whole_column_of_iso_texts_is_each_value_s_text(values, zone):
    with local_zone(zone):
        assert iso_texts(values) == [iso_text(v) for v in values]


def test_a_column_across_a_change_of_offset_gets_each_instant_s_offset(berlin):
    values = [FALL_BACK - 1, FALL_BACK, FALL_BACK + 0.5, SPRING_FORWARD - 0.001, SPRING_FORWARD,
              BERLIN_TAKES_CET - 1, BERLIN_TAKES_CET]  # the last change is within a UTC hour
    assert [t.partition("+")[2] for t in iso_texts(values)] == [
        "02:00", "01:00", "01:00", "01:00", "02:00", "00:53:28", "01:00"]


@pytest.mark.parametrize("seconds, shown", [
    (0.25, "0.25 s"), (1.5, "1.5 s"), (0, "0 s"), (12.3456, "12.3 s"), (59.97, "1 min"),
    (125, "2 min 5 s"), (119.6, "2 min"), (3599.7, "1 h"), (3 * 3600 + 120, "3 h 2 min"),
    (86000, "23 h 53 min"), (86399, "1 d"), (86400 + 7200, "1 d 2 h"), (400 * 86400, "400 d"),
    (-125, "-2 min 5 s"), (-0.25, "-0.25 s"), (2.5e-5, "25 µs"), (3e-9, "3 ns"), (math.nan, "nan"),
])
def test_a_duration_reads_in_the_two_largest_units(seconds, shown):
    assert duration_text(seconds) == shown

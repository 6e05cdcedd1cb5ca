"""Time values as numbers: seconds since the epoch, UTC.

A date-time without a zone is the producer machine's local time, converted
with the offset in force at that instant (a daylight-saving change is
handled; a repeated wall-clock hour is read as its first occurrence). A
time of day alone lies on the local date the reading began, rolling over to
the next day when it falls back by more than 12 hours (a stream that passes
midnight).

The lines formats parse their times here; the table road parses them
natively, the same way.

This module imports no Qt: the producer process uses it.
"""

import math
import re
from datetime import date, datetime, timedelta, timezone

from .layout import DAYTIME, DMY, EPOCH, ISO, MDY, MONTH, STRFTIME, ColumnLayout
from .values import (CLOCK_PATTERN, ISO_PATTERN, MONTH_PATTERN, NUMERIC_PATTERN, is_missing,
                     month_number, strptime_seconds)

_CLOCK_PARTS = re.compile(
    r"(\d{1,2}):(\d{2})(?::(\d{2})(?:[.,](\d+))?)?\s*(?:([AaPp])\.?[Mm]\.?)?\s*"
    r"(Z|[+-]\d{2}(?::?\d{2})?)?$")
_HALF_DAY = 43200.0


class DayClock:
    """Times of day as times: on the date the reading began, or later days
    when the times fall back by more than half a day."""

    def __init__(self, start: date | None = None):
        self.day = start or date.today()
        self._last = None

    def at(self, seconds_of_day: float) -> float:
        if self._last is not None and seconds_of_day < self._last - _HALF_DAY:
            self.day += timedelta(days=1)
        self._last = seconds_of_day
        midnight = datetime(self.day.year, self.day.month, self.day.day)
        return local_seconds(midnight, seconds_of_day)


def local_seconds(day_start: datetime, seconds: float) -> float:
    """A local wall-clock time, `seconds` after midnight of `day_start`."""
    whole = math.floor(seconds)
    moment = day_start + timedelta(seconds=whole)
    return moment.timestamp() + (seconds - whole)


def epoch_seconds(value: float, scale: float) -> float:
    """A count of epoch units as seconds. Milliseconds and smaller are
    divided by the units per second, not multiplied by the seconds per unit:
    that keeps 1765188000123 ms the nearest double to ...000.123 s."""
    return value / round(1 / scale) if scale < 1 else value * scale


def _clock(text: str):
    """(seconds of the day, zone offset in seconds or None) of `12:00:01.5 PM +01:00`."""
    match = _CLOCK_PARTS.match(text.strip())
    if not match:
        raise ValueError(f"{text!r} is no time of day")
    hour, minute, second, fraction, half, zone = match.groups()
    hour = int(hour)
    if half:
        if not 1 <= hour <= 12:
            raise ValueError(f"{text!r}: hour {hour} with AM/PM")
        hour = hour % 12 + (12 if half in "Pp" else 0)
    if hour > 23 or int(minute) > 59 or int(second or 0) > 60:
        raise ValueError(f"{text!r} is no time of day")
    seconds = hour * 3600 + int(minute) * 60 + int(second or 0)
    if fraction:
        seconds += int(fraction) / 10 ** len(fraction)
    return seconds, _zone_seconds(zone)


def _zone_seconds(zone: str | None):
    if not zone:
        return None
    if zone == "Z":
        return 0
    digits = zone[1:].replace(":", "")
    offset = int(digits[:2]) * 3600 + int(digits[2:4] or 0) * 60
    return -offset if zone[0] == "-" else offset


def _date_time(year_text: str, month: int, day: int, clock: str) -> float:
    """The date (and the time of day in `clock`, "" for midnight) as seconds.
    A year of two digits is 1970 to 2069."""
    year = int(year_text)
    if len(year_text) == 2:
        year += 2000 if year < 70 else 1900
    midnight = datetime(year, month, day)
    seconds, zone = _clock(clock) if clock.strip() else (0, None)
    if zone is None:
        return local_seconds(midnight, seconds)
    utc_midnight = midnight.replace(tzinfo=timezone.utc).timestamp()
    return utc_midnight + seconds - zone


def _iso(text: str) -> float:
    match = ISO_PATTERN.match(text)
    if not match:
        raise ValueError(f"{text!r} is no ISO date")
    year, month, day, clock = match.groups()
    return _date_time(year, int(month), int(day), (clock or "").lstrip("T "))


def _numeric(text: str, day_first: bool) -> float:
    match = NUMERIC_PATTERN.match(text)
    if not match:
        raise ValueError(f"{text!r} is no date")
    first, _, second, year, clock = match.groups()
    day, month = (first, second) if day_first else (second, first)
    return _date_time(year, int(month), int(day), clock or "")


def _month(text: str) -> float:
    match = MONTH_PATTERN.match(text)
    if not match:
        raise ValueError(f"{text!r} is no date")
    day1, name1, year1, name2, day2, year2, clock = match.groups()
    day, name, year = (day1, name1, year1) if day1 else (day2, name2, year2)
    return _date_time(year, month_number(name), int(day), clock or "")


def time_seconds(text: str, column: ColumnLayout, clock: DayClock | None = None) -> float:
    """The value of a time column's field (with_next fields joined by a
    space) as seconds since the epoch; NaN where missing. Raises ValueError
    for a value of another shape."""
    text = text.strip()
    if is_missing(text):
        return math.nan
    shape = column.shape
    if shape == ISO:
        return _iso(text)
    if shape in (DMY, MDY):
        return _numeric(text, shape == DMY)
    if shape == MONTH:
        return _month(text)
    if shape == DAYTIME:
        if not CLOCK_PATTERN.match(text):
            raise ValueError(f"{text!r} is no time of day")
        return (clock or DayClock()).at(_clock(text)[0])
    if shape == EPOCH:
        return epoch_seconds(float(text), column.scale)
    if shape == STRFTIME:
        return strptime_seconds(text, column.time_format)
    raise ValueError(f"no time shape {shape!r}")

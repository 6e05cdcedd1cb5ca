"""What a single value looks like: missing, a number, a date, a time of day,
a date and time, or a word; and what a column of such values is.

The table sniffer and the keyed line formats decide their columns' kinds
with the same rules, so a value reads the same whatever carries it.

This module imports no Qt: the producer process uses it.
"""

import re
from datetime import datetime

from ..protocol import NUMBER, TEXT, TIME
from .units import suffixed
from .layout import DAYTIME, DMY, EPOCH, ISO, MDY, MISSING_WORDS, MONTH, STRFTIME, ColumnLayout

MISSING = "missing"
_MISSING = frozenset(MISSING_WORDS)

# What a value is, finer than a column kind: a column of dates and a column
# of times of day next to it make one time column, a time of day followed by
# an AM/PM field makes one too.
ISO_DATE, ISO_DATETIME = "iso date", "iso datetime"
NUMERIC_DATE, NUMERIC_DATETIME = "numeric date", "numeric datetime"
MONTH_DATE, MONTH_DATETIME = "month date", "month datetime"
TIME_OF_DAY = "time of day"
AMPM = "am/pm"
WORD = "word"
DATES = (ISO_DATE, NUMERIC_DATE, MONTH_DATE)

_CLOCK = r"\d{1,2}:\d{2}(?::\d{2}(?:[.,]\d+)?)?"
_AMPM = r"(?:\s*[AaPp]\.?[Mm]\.?)"
_ZONE = r"(?:\s*(?:Z|[+-]\d{2}(?::?\d{2})?))"
_MONTHS = ("jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec")
_MONTH = r"(?:jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)[a-z]*\.?"
_AT = rf"(?:[T ]\s*{_CLOCK}{_AMPM}?{_ZONE}?)"

ISO_PATTERN = re.compile(rf"(\d{{4}})[-/](\d{{1,2}})[-/](\d{{1,2}})({_AT})?$")
NUMERIC_PATTERN = re.compile(rf"(\d{{1,2}})([./-])(\d{{1,2}})\2(\d{{4}}|\d{{2}})(\s+{_CLOCK}{_AMPM}?)?$")
MONTH_PATTERN = re.compile(
    rf"(?:(\d{{1,2}})[ -]({_MONTH})[ ,-]*(\d{{4}})|({_MONTH})[ -](\d{{1,2}}),?[ -](\d{{4}}))"
    rf"(\s+{_CLOCK}{_AMPM}?)?$", re.IGNORECASE)
CLOCK_PATTERN = re.compile(rf"{_CLOCK}({_AMPM})?$")
AMPM_PATTERN = re.compile(r"[AaPp]\.?[Mm]\.?$")
_DECIMAL_COMMA = re.compile(r"[+-]?\d*,\d+(?:[eE][+-]?\d+)?$")

# Names that say a column of numbers holds times since the epoch.
TIME_NAMES = frozenset(("t", "ts", "time", "times", "timestamp", "timestamps", "epoch", "unix",
                        "unixtime", "unix_time", "datetime", "date", "time_s", "time_ms",
                        "time_us", "time_ns", "timestamp_ms", "timestamp_us", "timestamp_ns",
                        "ts_ms", "ts_us", "ts_ns", "epoch_ms", "epoch_s", "created", "when"))
# Seconds from 1973 to 3237: a number in this range, once scaled, is a time.
_EPOCH_LOW, _EPOCH_HIGH = 1e8, 4e10
_EPOCH_SCALES = (1.0, 1e-3, 1e-6, 1e-9)
# The share of a column's values that, being numbers, make it a number column
# whatever the others are: most of them, or half (the others are bad values).
_MOSTLY_NUMBERS = 0.5


def is_missing(text: str) -> bool:
    return text.strip() in _MISSING


def number_text(text: str, decimal_comma: bool = False) -> str:
    """The text as Python reads numbers: a decimal comma made a point."""
    text = text.strip()
    return text.replace(",", ".", 1) if decimal_comma and "," in text else text


def is_number(text: str, decimal_comma: bool = False) -> bool:
    text = number_text(text, decimal_comma)
    if not text or "_" in text:  # Python reads 1_000; no other program writes it
        return False
    try:
        float(text)
    except ValueError:
        try:
            complex(text)
        except ValueError:
            return False
    return True


def suffix_only(text: str, decimal_comma: bool = False) -> bool:
    """Whether a value is a number by its unit suffix alone (`1k`, `45%`):
    one such value in a line of names (`freq,1k,10k`) is a name."""
    return suffixed(text, decimal_comma) is not None and not is_number(text, decimal_comma)


def has_decimal_comma(text: str) -> bool:
    return bool(_DECIMAL_COMMA.match(text.strip()))


def value_class(text: str, decimal_comma: bool = False) -> str:
    """One of MISSING, NUMBER, the date/time classes above, AMPM or WORD."""
    text = text.strip()
    if text in _MISSING:
        return MISSING
    if is_number(text, decimal_comma) or suffixed(text, decimal_comma):
        return NUMBER
    if text[0].isdigit():
        if ISO_PATTERN.match(text):
            return ISO_DATETIME if ISO_PATTERN.match(text).group(4) else ISO_DATE
        numeric = NUMERIC_PATTERN.match(text)
        if numeric:
            return NUMERIC_DATETIME if numeric.group(5) else NUMERIC_DATE
        if CLOCK_PATTERN.match(text):
            return TIME_OF_DAY
    if AMPM_PATTERN.match(text):
        return AMPM
    month = MONTH_PATTERN.match(text)
    if month:
        return MONTH_DATETIME if month.group(7) else MONTH_DATE
    return WORD


def day_month_order(texts) -> str | None:
    """DMY or MDY for numeric dates: a first field over 12 is a day, a second
    over 12 is one too; where no value says, a "." means day first and a "/"
    month first. None when the values contradict each other."""
    day_first = month_first = False
    separator = ""
    for text in texts:
        match = NUMERIC_PATTERN.match(text.strip())
        if not match:
            continue
        separator = separator or match.group(2)
        day_first |= int(match.group(1)) > 12
        month_first |= int(match.group(3)) > 12
    if day_first and month_first:
        return None
    if day_first or month_first:
        return DMY if day_first else MDY
    return MDY if separator == "/" else DMY


def epoch_scale(values, name: str) -> float | None:
    """Seconds per unit where a column of numbers named as a time holds
    times since the epoch (seconds, ms, us or ns by magnitude), else None."""
    if name.strip().lower() not in TIME_NAMES or not values:
        return None
    for scale in _EPOCH_SCALES:
        if all(_EPOCH_LOW <= abs(v) * scale < _EPOCH_HIGH for v in values):
            return scale
    return None


def strptime_seconds(text: str, time_format: str) -> float:
    """A time read by a strftime format, as seconds since the epoch: naive,
    local time; with %z, that offset. Raises ValueError where it does not fit."""
    return datetime.strptime(text, time_format).timestamp()


def fits_format(text: str, time_format: str) -> bool:
    try:
        strptime_seconds(text.strip(), time_format)
    except ValueError:
        return False
    return True


def column_layout(texts, name: str = "", *, decimal_comma: bool = False,
                  time_format: str = "") -> ColumnLayout:
    """The kind (and time shape) of a column from its values: numbers alone
    make a number column (a time one where the name says time and the values
    are epoch-sized), dates and times of one shape a time column, anything
    else a text column. Missing values fit every kind."""
    present = [t.strip() for t in texts if t.strip() not in _MISSING]
    if time_format and present and all(fits_format(t, time_format) for t in present):
        return ColumnLayout(TIME, STRFTIME, time_format=time_format)
    found = [value_class(t, decimal_comma) for t in present]
    classes = set(found)
    if classes - {NUMBER} and NUMBER in classes and (
            found.count(NUMBER) >= _MOSTLY_NUMBERS * len(found)):
        # A word or two among numbers is a bad value, not a column of words.
        present = [t for t, c in zip(present, found) if c == NUMBER]
        classes = {NUMBER}
    if not classes or classes == {NUMBER}:
        numbers = [float(number_text(t, decimal_comma)) for t in present if _is_real(t, decimal_comma)]
        scale = epoch_scale(numbers, name) if len(numbers) == len(present) else None
        return ColumnLayout(TIME, EPOCH, scale=scale) if scale else ColumnLayout(NUMBER)
    shape = time_shape(classes, present)
    return ColumnLayout(TIME, shape) if shape else ColumnLayout(TEXT)


def _is_real(text: str, decimal_comma: bool) -> bool:
    try:
        float(number_text(text, decimal_comma))
    except ValueError:
        return False
    return True


def time_shape(classes: set, texts) -> str | None:
    """The layout shape shared by values of these classes, or None."""
    if classes <= {ISO_DATE, ISO_DATETIME}:
        return ISO
    if classes <= {NUMERIC_DATE, NUMERIC_DATETIME}:
        return day_month_order(texts)
    if classes <= {MONTH_DATE, MONTH_DATETIME}:
        return MONTH
    if classes == {TIME_OF_DAY}:
        return DAYTIME
    return None


def month_number(text: str) -> int:
    """1 to 12 for a month's name or its abbreviation."""
    return _MONTHS.index(text.strip().lower()[:3]) + 1

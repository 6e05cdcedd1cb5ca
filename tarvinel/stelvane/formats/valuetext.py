"""Values as a user reads them: a number as the readout writes numbers, a time
as a local date and time, a text column's word code as its word; ISO 8601
text for export and the clipboard that reads back to the very same number;
durations for a range copy.

A time is seconds since the epoch (UTC). It is shown in the local time zone,
the `TZ` this process sees (re-read after `time.tzset()`), with the offset in
force at that instant: a daylight-saving change is handled per value.

This module imports no Qt: the producer side and the export may use it.
"""

from decimal import Decimal
import math
import time

import numpy as np

from ..protocol import TEXT, TIME

MISSING_TEXT = "nan"  # what the readout and the data boxes write for NaN
# The instants shown as dates: years 1 to 9999 (datetime's range), with a
# day to spare at each end so that no offset leaves it.
FIRST_TIME = -62135596800.0 + 86400
LAST_TIME = 253402300800.0 - 86400
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")


def number_text(value) -> str:
    """A number as the readout and the data boxes write it."""
    if isinstance(value, complex):
        return f"{value.real:.3g}{value.imag:+.3g}j"
    return f"{value:.6g}"


def value_text(value, kind: str, words=()) -> str:
    """`value` of a column of `kind` (protocol.NUMBER, TIME or TEXT) as text:
    a time as local `2026-12-08 10:00:00.250` (a fraction only when there is
    one), a text column's code as its word (`words`: the column's words in code
    order), anything else, and a code without a word, as a number."""
    if kind == TIME:
        return time_text(value)
    if kind == TEXT:
        return level_text(value, words)
    if isinstance(value, float) and math.isnan(value):
        return MISSING_TEXT
    return number_text(value)


def level_text(code, words) -> str:
    if isinstance(code, float) and math.isnan(code):
        return MISSING_TEXT
    if math.isfinite(code) and code == int(code) and 0 <= code < len(words):
        return words[int(code)]
    return number_text(code)


def is_date(value) -> bool:
    """Whether a time can be written as a date (years 1 to 9999)."""
    return FIRST_TIME <= value <= LAST_TIME


def local_fields(whole_seconds: int) -> time.struct_time:
    """The local calendar fields and UTC offset (`tm_gmtoff`) of an instant."""
    return time.localtime(whole_seconds)


def utc_offset(whole_seconds: int) -> int:
    """Seconds the local clock is ahead of UTC at that instant."""
    return time.localtime(whole_seconds).tm_gmtoff


def time_text(value) -> str:
    """A time as local date and time, to the microsecond at most: `.250`,
    `.123456`, or no fraction for whole seconds."""
    if not math.isfinite(value) or not is_date(value):
        return MISSING_TEXT if math.isnan(value) else number_text(value)
    whole, micro = divmod(round_to_micro(value), 1_000_000)
    fraction = "" if not micro else f".{micro // 1000:03d}" if micro % 1000 == 0 else f".{micro:06d}"
    return wall_text(local_fields(whole), " ") + fraction


def wall_text(t: time.struct_time, between: str) -> str:
    """Calendar fields as `2026-12-08` `between` `10:00:00`."""
    return (f"{t.tm_year:04d}-{t.tm_mon:02d}-{t.tm_mday:02d}{between}"
            f"{t.tm_hour:02d}:{t.tm_min:02d}:{t.tm_sec:02d}")


def round_to_micro(value: float) -> int:
    """The time in whole microseconds, rounded half to even from the exact
    value of the float (no rounding on the way)."""
    numerator, denominator = float(value).as_integer_ratio()
    micro, rest = divmod(numerator * 1_000_000, denominator)
    if 2 * rest > denominator or (2 * rest == denominator and micro % 2):
        micro += 1
    return micro


def exact_parts(value: float) -> tuple[int, str]:
    """The whole seconds (rounded down) and the fraction's digits ("" for
    none) of the shortest decimal that reads back as `value`."""
    sign, digits, exponent = Decimal(repr(float(value))).as_tuple()
    number = int("".join(map(str, digits))) * (-1 if sign else 1)
    if exponent >= 0:
        return number * 10 ** exponent, ""
    whole, rest = divmod(number, 10 ** -exponent)  # floor: a fraction is never negative
    return whole, str(rest).rjust(-exponent, "0").rstrip("0")


def offset_text(offset: int) -> str:
    sign = "-" if offset < 0 else "+"
    hours, rest = divmod(abs(offset), 3600)
    minutes, seconds = divmod(rest, 60)
    return f"{sign}{hours:02d}:{minutes:02d}" + (f":{seconds:02d}" if seconds else "")


def iso_text(value) -> str:
    """A time as ISO 8601 with the local offset in force at that instant,
    `2026-12-08T10:00:00.25+01:00`, holding every digit needed to read back
    the same float: seconds since the epoch of the text's whole seconds plus
    its fraction, as a decimal, round to `value`. (`datetime.fromisoformat`
    keeps six digits of a fraction, so it reads back exactly every value
    that lies on the microsecond grid, which is every value read from a text
    of six digits or fewer.) NaN is MISSING_TEXT; a time outside the years
    1 to 9999 is its number, exact."""
    value = float(value)
    if not math.isfinite(value) or not is_date(value):
        return MISSING_TEXT if math.isnan(value) else repr(value)
    whole, digits = exact_parts(value)
    t = local_fields(whole)
    fraction = f".{digits}" if digits else ""
    return wall_text(t, "T") + fraction + offset_text(t.tm_gmtoff)


def iso_texts(values) -> list[str]:
    """`[iso_text(v) for v in values]`, made for whole columns: values on
    the microsecond grid (the common case) are written with numpy, the rest
    one by one."""
    values = np.asarray(values, dtype=float).ravel()
    texts = [""] * len(values)
    whole = np.floor(values)
    with np.errstate(invalid="ignore"):
        micro = np.round((values - whole) * 1e6)  # values - whole is exact
        # Below 2**53 microseconds the sum is exact and the division
        # correctly rounded, as reading the six-digit decimal would be.
        on_grid = ((np.abs(whole) < 9e9) & (micro < 1e6)
                   & ((whole * 1e6 + micro) / 1e6 == values))
    grid = np.flatnonzero(on_grid)
    seconds = whole[grid].astype(np.int64)
    offsets = local_offsets(seconds)
    dates = np.datetime_as_string((seconds + offsets).astype("datetime64[s]"), unit="s").tolist()
    fractions = unique_texts(micro[grid].astype(np.int64),
                             lambda m: f".{m:06d}".rstrip("0") if m else "")
    zones = unique_texts(offsets, offset_text)
    for i, date, fraction, zone in zip(grid.tolist(), dates, fractions, zones):
        texts[i] = date + fraction + zone
    for i in np.flatnonzero(~on_grid).tolist():
        texts[i] = iso_text(values[i])
    return texts


def unique_texts(numbers: np.ndarray, text_of) -> list[str]:
    """`[text_of(n) for n in numbers]`, calling `text_of` once per distinct number."""
    distinct, where = np.unique(numbers, return_inverse=True)
    texts = [text_of(n) for n in distinct.tolist()]
    return [texts[k] for k in where.tolist()]


def local_offsets(seconds: np.ndarray) -> np.ndarray:
    """The UTC offset of each instant. Read once per hour of the data: an
    hour whose first and last second have the same offset has it
    throughout (offsets change at most once within an hour); the rest are
    read one by one."""
    hours, where = np.unique(seconds // 3600, return_inverse=True)
    first = np.array([utc_offset(h * 3600) for h in hours.tolist()], dtype=np.int64)
    last = np.array([utc_offset(h * 3600 + 3599) for h in hours.tolist()], dtype=np.int64)
    offsets = first[where]
    for i in np.flatnonzero((first != last)[where]).tolist():
        offsets[i] = utc_offset(int(seconds[i]))
    return offsets


# (larger unit, smaller unit, below): a span is written in the first pair it
# stays below once rounded to the smaller unit.
DURATION_UNITS = ((("min", 60), ("s", 1), 3600), (("h", 3600), ("min", 60), 86400),
                  (("d", 86400), ("h", 3600), math.inf))


def duration_text(seconds) -> str:
    """A span of time: `0.25 s`, `1.5 s`, `2 min 5 s`, `3 h 2 min`,
    `1 d 2 h`; below a minute to three significant digits, above it in two
    units, rounded to the smaller; negative spans with a `-`."""
    if not math.isfinite(seconds):
        return MISSING_TEXT if math.isnan(seconds) else f"{seconds} s"
    sign, size = ("-" if seconds < 0 else ""), abs(seconds)
    if size < 1e-3 and size:
        return sign + (f"{size * 1e6:.3g} µs" if size >= 1e-6 else f"{size * 1e9:.3g} ns")
    if float(f"{size:.3g}") < 60:
        return f"{sign}{size:.3g} s"
    for (big, big_size), (small, small_size), below in DURATION_UNITS:
        count = round(size / small_size)  # 119.6 s is 2 min
        if count * small_size < below:
            whole, rest = divmod(count, big_size // small_size)
            return f"{sign}{whole} {big}" + (f" {rest} {small}" if rest else "")
    raise AssertionError("unreachable: the last pair takes every size")

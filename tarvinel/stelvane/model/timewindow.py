"""The live plot's window: how much of the current run it shows while it
follows its data. Either the newest rows (`N rows`; `rows` alone: the
--live-rows default) or a span of the X column ending at the newest row: a
plain number in X's own units, or with a unit (ms, s, min, h, d), read as
seconds, which is what a time column holds. No Qt here: the command line
and the settings read it too.
"""

from dataclasses import dataclass
import math
import re

# Seconds per unit of a span.
UNITS = {"ms": 1e-3, "s": 1.0, "min": 60.0, "h": 3600.0, "d": 86400.0}
# What the window's control offers.
CHOICES = ("rows", "10s", "30s", "1min", "5min", "1h")

_SPAN = re.compile(r"(?P<number>[0-9.]+(?:e[+-]?[0-9]+)?)\s*(?P<unit>[a-z]*)")


@dataclass(frozen=True)
class TimeWindow:
    """A window as the user wrote it (`text`), with either `span` (in X's
    units) or `rows` (None for both: the --live-rows default)."""
    text: str
    span: float | None = None
    rows: int | None = None

    def row_count(self, live_rows: int) -> int:
        """The newest rows shown when the window is rows (or X does not grow)."""
        return self.rows or live_rows


ROWS = TimeWindow("rows")


def parse_window(text: str) -> TimeWindow:
    """The window `text` names; ValueError with a reason for any other text."""
    given = text.strip()
    if given.lower() == "rows":
        return ROWS
    match = _SPAN.fullmatch(given.lower())
    unit = match["unit"] if match else None
    if match is None or (unit not in UNITS and unit not in ("", "row", "rows")):
        raise ValueError(f"{text!r} is no window: a number (in X's units), a number with "
                         f"one of {', '.join(UNITS)} (seconds), or N rows")
    try:
        number = float(match["number"])
    except ValueError:
        raise ValueError(f"{text!r} is no window: {match['number']!r} is no number") from None
    if not (math.isfinite(number) and number > 0):
        raise ValueError(f"{text!r} is no window: it must be a finite number greater than 0")
    if unit in ("row", "rows"):
        if number != int(number):
            raise ValueError(f"{text!r} is no window: a whole number of rows")
        return TimeWindow(given, rows=int(number))
    return TimeWindow(given, span=number * UNITS.get(unit, 1.0))

"""How the lines of a table are laid out: what is decided from a stream's
first lines, and what the block parser then follows for every row.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import dataclass, field

from ..protocol import NUMBER, TEXT, TIME

# The shapes of a time column's values (ColumnLayout.shape):
ISO = "iso"          # 2026-12-08, 2026-12-08T10:00:00.250+01:00, 2012/01/01 10:00
DMY = "dmy"          # 08.12.2026, 1/12/2006, 8-12-2026 [time]: day first
MDY = "mdy"          # 12/8/2026 [time]: month first
MONTH = "month"      # Jan 1 2000, 1 Jan 2000, January 1, 2000, 01-Jan-2000 [time]
DAYTIME = "daytime"  # 12:00:01, 12:00:01.5, 12:00:01 AM: a time of day
EPOCH = "epoch"      # a number of seconds (times `scale`) since the epoch
STRFTIME = "strftime"  # `time_format`, read by Python's datetime.strptime
TIME_SHAPES = (ISO, DMY, MDY, MONTH, DAYTIME, EPOCH, STRFTIME)

# Words that stand for a missing value, in any column (compared as they are).
MISSING_WORDS = ("", "NA", "N/A", "n/a", "na", "null", "NULL", "Null", "None", "none",
                 "-", "--", "?", "#N/A", "nil")

# A separator of None is a run of spaces or tabs (aligned printouts).
WHITESPACE = None


@dataclass(frozen=True)
class ColumnLayout:
    kind: str = NUMBER     # NUMBER, TIME or TEXT
    shape: str = ""        # for TIME: one of TIME_SHAPES
    scale: float = 1.0     # for EPOCH: seconds per unit (1e-3 for milliseconds)
    time_format: str = ""  # for STRFTIME
    # A date column whose next column holds the time of day: the two are one
    # time column (the date's name and the time's, joined by a space).
    # The same for a time of day whose next field is its AM/PM marker (as
    # aligned printouts write `12:00:01 AM`). Chains are allowed (a date, a
    # time, AM/PM): the fields of a chain, joined by single spaces, are one
    # value read by the first one's shape; the fields after the first are
    # laid out as ColumnLayout(TIME, DAYTIME).
    with_next: bool = False
    # For NUMBER: None for plain numbers; else the unit the column's values
    # are read into, suffixes and all (units.py: "" where they carry
    # multipliers alone).
    unit: str | None = None


@dataclass(frozen=True)
class TableLayout:
    sep: str | None = ","          # one character, or WHITESPACE
    quote: str | None = '"'        # fields may be quoted with it ("" inside is one ")
    decimal_comma: bool = False    # 1,5 is one and a half (never with sep ",")
    columns: tuple[ColumnLayout, ...] = field(default_factory=tuple)
    # Characters dropped from every line before it splits: the brackets of
    # rows printed as tuples or lists, "(1.5, 2)" or "[1.5, 2]".
    brackets: str = ""
    # Rows drawn between bars ("| 1 | 2 |", sep "|"): the outer bars are dropped.
    framed: bool = False
    # Bars between groups of fields ("0   1| 536k 1555k|", dstat): blanks.
    groups: bool = False
    # Where blanks separate fields: the last column, a text one, takes the
    # rest of the line from its first field on, blanks and all (ps's
    # COMMAND with its arguments, a mount point with a blank in it).
    rest: bool = False

    @property
    def width(self) -> int:
        """Fields a data line holds."""
        return len(self.columns)

    def stored_fields(self) -> tuple[int, ...]:
        """The field each stored column begins at: a with_next column takes
        the field after it into its own value (joined by a space), so the
        fields of a chain are one column."""
        return tuple(i for i in range(len(self.columns))
                     if i == 0 or not self.columns[i - 1].with_next)

    @property
    def kinds(self) -> tuple[str, ...]:
        """The kind of each stored column."""
        return tuple(self.columns[i].kind for i in self.stored_fields())
